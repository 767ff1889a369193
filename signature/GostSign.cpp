#include "signature/GostSign.h"

#include <cstdio>

namespace zsig {

AffinePoint DerivePublicKey(const Curve& curve, const U256& d) {
    return curve.MulAdd(d, curve.BasePoint(), U256{}, AffinePoint{U256{}, U256{}, true});
}

bool SignRaw(const Curve& curve, const U256& d, const U256& e, const U256& k, U256& r, U256& s) {
    const MontField& fq = curve.Fq();
    U256 er = fq.Reduce(e);
    if (er.IsZero())
        er.w[0] = 1;
    const AffinePoint c = DerivePublicKey(curve, k);
    if (c.infinity)
        return false;
    r = fq.Reduce(c.x);
    if (r.IsZero())
        return false;
    // s = r * d + k * e (mod q)
    s = fq.Add(fq.Mul(fq.ToMont(r), d), fq.Mul(fq.ToMont(k), er));
    return !s.IsZero();
}

bool RandomScalar(const Curve& curve, U256& out) {
    FILE* f = std::fopen("/dev/urandom", "rb");
    if (!f)
        return false;
    bool ok = false;
    for (int attempt = 0; attempt < 64 && !ok; ++attempt) {
        uint8_t bytes[32];
        if (std::fread(bytes, 1, sizeof bytes, f) != sizeof bytes)
            break;
        out = U256::FromBigEndian(bytes);
        ok = !out.IsZero() && Compare(out, curve.Params().q) < 0;
    }
    std::fclose(f);
    return ok;
}

} // namespace zsig
