#include "tests/native/GcryptHelpers.h"

#include <cstdlib>
#include <cstring>

#include "tools/zsign/ZsignCommands.h"

namespace zev::test {

void InitGcrypt() {
    static const bool done = [] {
        gcry_check_version(nullptr);
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)done;
}

std::string HexOf(const uint8_t* data, size_t size) {
    return zsign::ToHex(data, size);
}

std::string HexOf(const zsig::U256& v) {
    uint8_t b[32];
    v.ToBigEndian(b);
    return HexOf(b, 32);
}

void GcryptDigest(const void* data, size_t size, uint8_t out[32]) {
    InitGcrypt();
    gcry_md_hash_buffer(GCRY_MD_GOSTR3411_94, out, data, size);
}

namespace {

gcry_sexp_t Build(const std::string& text) {
    InitGcrypt();
    gcry_sexp_t s = nullptr;
    if (gcry_sexp_new(&s, text.data(), text.size(), 1) != 0)
        std::abort();
    return s;
}

bool ReadNumber(gcry_sexp_t sig, const char* name, zsig::U256& out) {
    gcry_sexp_t token = gcry_sexp_find_token(sig, name, 0);
    if (!token)
        return false;
    size_t len = 0;
    void* buf = gcry_sexp_nth_buffer(token, 1, &len);
    gcry_sexp_release(token);
    if (!buf)
        return false;
    // Big-endian, possibly shorter than 32 bytes (or with a leading zero).
    const uint8_t* p = static_cast<const uint8_t*>(buf);
    while (len > 32 && *p == 0) {
        ++p;
        --len;
    }
    bool ok = len <= 32;
    if (ok) {
        uint8_t b[32] = {};
        std::memcpy(b + 32 - len, p, len);
        out = zsig::U256::FromBigEndian(b);
    }
    gcry_free(buf);
    return ok;
}

} // namespace

gcry_sexp_t GcryptPublicKey(const zsig::AffinePoint& q) {
    return Build("(public-key (ecc (curve \"GOST2001-test\") (q #04" + HexOf(q.x) + HexOf(q.y) +
                 "#)))");
}

gcry_sexp_t GcryptPrivateKey(const zsig::U256& d) {
    return Build("(private-key (ecc (curve \"GOST2001-test\") (d #" + HexOf(d) + "#)))");
}

gcry_sexp_t GcryptData(const zsig::U256& e) {
    return Build("(data (flags gost) (value #" + HexOf(e) + "#))");
}

gcry_sexp_t GcryptSignature(const zsig::U256& r, const zsig::U256& s) {
    return Build("(sig-val (gost (r #" + HexOf(r) + "#) (s #" + HexOf(s) + "#)))");
}

bool GcryptReadSignature(gcry_sexp_t sig, zsig::U256& r, zsig::U256& s) {
    return ReadNumber(sig, "r", r) && ReadNumber(sig, "s", s);
}

} // namespace zev::test
