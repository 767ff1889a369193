#include "signature/Gostr3410.h"

namespace zsig {
namespace {

U256 FromHex(const char* hex) {
    U256 v;
    int n = 0;
    for (const char* p = hex; *p; ++p)
        ++n;
    for (int i = 0; i < n; ++i) {
        const char c = hex[n - 1 - i];
        const uint32_t d = c <= '9' ? uint32_t(c - '0') : uint32_t((c | 0x20) - 'a' + 10);
        v.w[i / 8] |= d << (4 * (i % 8));
    }
    return v;
}

// a - b, answering the borrow.
uint32_t SubWords(U256& out, const U256& a, const U256& b) {
    uint64_t borrow = 0;
    for (int i = 0; i < 8; ++i) {
        const uint64_t d = uint64_t(a.w[i]) - b.w[i] - borrow;
        out.w[i] = uint32_t(d);
        borrow = (d >> 32) & 1;
    }
    return uint32_t(borrow);
}

uint32_t AddWords(U256& out, const U256& a, const U256& b) {
    uint64_t carry = 0;
    for (int i = 0; i < 8; ++i) {
        carry += uint64_t(a.w[i]) + b.w[i];
        out.w[i] = uint32_t(carry);
        carry >>= 32;
    }
    return uint32_t(carry);
}

} // namespace

U256 U256::FromBigEndian(const uint8_t* bytes) {
    U256 v;
    for (int i = 0; i < 32; ++i)
        v.w[(31 - i) / 4] |= uint32_t(bytes[i]) << (8 * ((31 - i) % 4));
    return v;
}

U256 U256::FromLittleEndian(const uint8_t* bytes) {
    U256 v;
    for (int i = 0; i < 32; ++i)
        v.w[i / 4] |= uint32_t(bytes[i]) << (8 * (i % 4));
    return v;
}

void U256::ToBigEndian(uint8_t* bytes) const {
    for (int i = 0; i < 32; ++i)
        bytes[i] = uint8_t(w[(31 - i) / 4] >> (8 * ((31 - i) % 4)));
}

bool U256::IsZero() const {
    uint32_t acc = 0;
    for (uint32_t x : w)
        acc |= x;
    return acc == 0;
}

int Compare(const U256& a, const U256& b) {
    for (int i = 7; i >= 0; --i) {
        if (a.w[i] != b.w[i])
            return a.w[i] < b.w[i] ? -1 : 1;
    }
    return 0;
}

MontField::MontField(const U256& modulus) : m_m(modulus) {
    // Newton iteration for m^-1 mod 2^32, then negate.
    uint32_t inv = 1;
    for (int i = 0; i < 5; ++i)
        inv *= 2 - m_m.w[0] * inv;
    m_n0 = 0u - inv;
    // R mod m and R^2 mod m by doubling 1.
    U256 x;
    x.w[0] = 1;
    for (int i = 0; i < 512; ++i) {
        x = Add(x, x);
        if (i == 255)
            m_one = x;
    }
    m_r2 = x;
}

// Coarsely integrated operand scanning: t = (t + a * b[i] + u * m) / 2^32.
U256 MontField::Mul(const U256& a, const U256& b) const {
    uint32_t t[10] = {};
    for (int i = 0; i < 8; ++i) {
        uint64_t c = 0;
        const uint64_t bi = b.w[i];
        for (int j = 0; j < 8; ++j) {
            c += t[j] + uint64_t(a.w[j]) * bi;
            t[j] = uint32_t(c);
            c >>= 32;
        }
        c += t[8];
        t[8] = uint32_t(c);
        t[9] = uint32_t(c >> 32);
        const uint64_t u = uint32_t(t[0] * m_n0);
        c = (t[0] + u * m_m.w[0]) >> 32;
        for (int j = 1; j < 8; ++j) {
            c += t[j] + u * m_m.w[j];
            t[j - 1] = uint32_t(c);
            c >>= 32;
        }
        c += t[8];
        t[7] = uint32_t(c);
        t[8] = t[9] + uint32_t(c >> 32);
    }
    U256 r;
    for (int i = 0; i < 8; ++i)
        r.w[i] = t[i];
    if (t[8] != 0 || Compare(r, m_m) >= 0)
        SubWords(r, r, m_m);
    return r;
}

U256 MontField::FromMont(const U256& a) const {
    U256 one;
    one.w[0] = 1;
    return Mul(a, one);
}

U256 MontField::Add(const U256& a, const U256& b) const {
    U256 r;
    const uint32_t carry = AddWords(r, a, b);
    if (carry != 0 || Compare(r, m_m) >= 0)
        SubWords(r, r, m_m);
    return r;
}

U256 MontField::Sub(const U256& a, const U256& b) const {
    U256 r;
    if (SubWords(r, a, b) != 0)
        AddWords(r, r, m_m);
    return r;
}

U256 MontField::Inv(const U256& a) const {
    U256 e = m_m;
    U256 two;
    two.w[0] = 2;
    SubWords(e, e, two);
    U256 r = m_one;
    for (int i = 255; i >= 0; --i) {
        r = Sqr(r);
        if (e.Bit(i))
            r = Mul(r, a);
    }
    return r;
}

U256 MontField::Reduce(const U256& a) const {
    U256 r = a;
    while (Compare(r, m_m) >= 0)
        SubWords(r, r, m_m);
    return r;
}

const CurveParams& DefaultCurve() {
    static const CurveParams params = {
        FromHex("8000000000000000000000000000000000000000000000000000000000000431"),
        FromHex("7"),
        FromHex("5FBFF498AA938CE739B8E022FBAFEF40563F6E6A3472FC2A514C0CE9DAE23B7E"),
        FromHex("8000000000000000000000000000000150FE8A1892976154C59CFC193ACCF5B3"),
        FromHex("2"),
        FromHex("08E2A8A0E65147D4BD6316030E16D19C85C97F0A9CA267122B96ABBCEA7E8FC8"),
    };
    return params;
}

const Curve& DefaultCurveContext() {
    static const Curve curve(DefaultCurve());
    return curve;
}

struct Curve::Jacobian {
    U256 x, y, z; // Montgomery form; z == 0 is the point at infinity
    bool Infinity() const { return z.IsZero(); }
};

Curve::Curve(const CurveParams& params)
    : m_params(params), m_fp(params.p), m_fq(params.q), m_aMont(m_fp.ToMont(params.a)),
      m_bMont(m_fp.ToMont(params.b)) {}

AffinePoint Curve::BasePoint() const {
    return {m_params.gx, m_params.gy, false};
}

bool Curve::IsOnCurve(const AffinePoint& pt) const {
    if (pt.infinity || Compare(pt.x, m_params.p) >= 0 || Compare(pt.y, m_params.p) >= 0)
        return false;
    const U256 x = m_fp.ToMont(pt.x), y = m_fp.ToMont(pt.y);
    const U256 lhs = m_fp.Sqr(y);
    const U256 rhs = m_fp.Add(m_fp.Add(m_fp.Mul(m_fp.Sqr(x), x), m_fp.Mul(m_aMont, x)), m_bMont);
    return Compare(lhs, rhs) == 0;
}

// dbl-2007-bl for any a.
void Curve::Double(Jacobian& p) const {
    if (p.Infinity())
        return;
    const MontField& f = m_fp;
    const U256 xx = f.Sqr(p.x), yy = f.Sqr(p.y), yyyy = f.Sqr(yy), zz = f.Sqr(p.z);
    U256 s = f.Sub(f.Sub(f.Sqr(f.Add(p.x, yy)), xx), yyyy);
    s = f.Add(s, s);
    const U256 m = f.Add(f.Add(f.Add(xx, xx), xx), f.Mul(m_aMont, f.Sqr(zz)));
    const U256 t = f.Sub(f.Sqr(m), f.Add(s, s));
    U256 y8 = f.Add(yyyy, yyyy);
    y8 = f.Add(y8, y8);
    y8 = f.Add(y8, y8);
    const U256 z3 = f.Sub(f.Sub(f.Sqr(f.Add(p.y, p.z)), yy), zz);
    p.y = f.Sub(f.Mul(m, f.Sub(s, t)), y8);
    p.x = t;
    p.z = z3;
}

// madd-2007-bl: p += q with q affine (Montgomery form).
void Curve::AddAffine(Jacobian& p, const AffinePoint& q) const {
    const MontField& f = m_fp;
    if (q.infinity)
        return;
    if (p.Infinity()) {
        p = {q.x, q.y, f.One()};
        return;
    }
    const U256 z1z1 = f.Sqr(p.z);
    const U256 u2 = f.Mul(q.x, z1z1);
    const U256 s2 = f.Mul(f.Mul(q.y, p.z), z1z1);
    const U256 h = f.Sub(u2, p.x);
    U256 r = f.Sub(s2, p.y);
    if (h.IsZero()) {
        if (r.IsZero())
            Double(p);
        else
            p.z = U256{};
        return;
    }
    r = f.Add(r, r);
    const U256 hh = f.Sqr(h);
    U256 i = f.Add(hh, hh);
    i = f.Add(i, i);
    const U256 j = f.Mul(h, i);
    const U256 v = f.Mul(p.x, i);
    const U256 x3 = f.Sub(f.Sub(f.Sqr(r), j), f.Add(v, v));
    const U256 yj = f.Mul(p.y, j);
    const U256 y3 = f.Sub(f.Mul(r, f.Sub(v, x3)), f.Add(yj, yj));
    const U256 z3 = f.Sub(f.Sub(f.Sqr(f.Add(p.z, h)), z1z1), hh);
    p = {x3, y3, z3};
}

AffinePoint Curve::ToAffine(const Jacobian& p) const {
    if (p.Infinity())
        return {U256{}, U256{}, true};
    const U256 zi = m_fp.Inv(p.z);
    const U256 zi2 = m_fp.Sqr(zi);
    return {m_fp.FromMont(m_fp.Mul(p.x, zi2)), m_fp.FromMont(m_fp.Mul(p.y, m_fp.Mul(zi2, zi))),
            false};
}

// Shamir's trick: one doubling per bit and at most one addition of P1, P2
// or P1 + P2.
AffinePoint Curve::MulAdd(const U256& k1, const AffinePoint& p1, const U256& k2,
                          const AffinePoint& p2) const {
    const AffinePoint a =
        p1.infinity ? p1 : AffinePoint{m_fp.ToMont(p1.x), m_fp.ToMont(p1.y), false};
    const AffinePoint b =
        p2.infinity ? p2 : AffinePoint{m_fp.ToMont(p2.x), m_fp.ToMont(p2.y), false};
    Jacobian sum{U256{}, U256{}, U256{}};
    AddAffine(sum, a);
    AddAffine(sum, b);
    AffinePoint ab{};
    if (sum.Infinity()) {
        ab.infinity = true;
    } else {
        const AffinePoint n = ToAffine(sum);
        ab = {m_fp.ToMont(n.x), m_fp.ToMont(n.y), false};
    }
    Jacobian acc{U256{}, U256{}, U256{}};
    for (int i = 255; i >= 0; --i) {
        Double(acc);
        const int sel = int(k1.Bit(i)) | int(k2.Bit(i)) << 1;
        if (sel == 1)
            AddAffine(acc, a);
        else if (sel == 2)
            AddAffine(acc, b);
        else if (sel == 3)
            AddAffine(acc, ab);
    }
    return ToAffine(acc);
}

U256 Curve::MessageNumber(const uint8_t digest[32]) const {
    U256 e = m_fq.Reduce(U256::FromLittleEndian(digest));
    if (e.IsZero())
        e.w[0] = 1;
    return e;
}

bool Curve::VerifyRaw(const AffinePoint& key, const U256& e, const U256& r, const U256& s) const {
    const U256& q = m_params.q;
    if (r.IsZero() || s.IsZero() || Compare(r, q) >= 0 || Compare(s, q) >= 0)
        return false;
    if (!IsOnCurve(key))
        return false;
    U256 er = m_fq.Reduce(e);
    if (er.IsZero())
        er.w[0] = 1;
    // v = e^-1, z1 = s * v, z2 = -r * v (mod q); a Montgomery product of a
    // Montgomery-form and a plain value is a plain value.
    const U256 vMont = m_fq.Inv(m_fq.ToMont(er));
    const U256 z1 = m_fq.Mul(vMont, s);
    const U256 z2 = m_fq.Sub(U256{}, m_fq.Mul(vMont, r));
    const AffinePoint c = MulAdd(z1, BasePoint(), z2, key);
    if (c.infinity)
        return false;
    return Compare(m_fq.Reduce(c.x), r) == 0;
}

bool Curve::Verify(const uint8_t publicKey[64], const uint8_t digest[32],
                   const uint8_t signature[64]) const {
    const AffinePoint key{U256::FromBigEndian(publicKey), U256::FromBigEndian(publicKey + 32),
                          false};
    return VerifyRaw(key, MessageNumber(digest), U256::FromBigEndian(signature),
                     U256::FromBigEndian(signature + 32));
}

} // namespace zsig
