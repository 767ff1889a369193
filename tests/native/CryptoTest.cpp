// Known answers of the standard and differential checks against libgcrypt.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "signature/GostSign.h"
#include "signature/Gostr3410.h"
#include "signature/Gostr3411.h"
#include "tests/native/GcryptHelpers.h"

using namespace zsig;
using namespace zev::test;

namespace {

U256 Hex(const char* hex) {
    uint8_t b[32] = {};
    for (int i = 0; i < 32; ++i) {
        unsigned v = 0;
        std::sscanf(hex + 2 * i, "%2x", &v);
        b[i] = uint8_t(v);
    }
    return U256::FromBigEndian(b);
}

// The worked example of GOST R 34.10-2001 (its appendix): private key d,
// message number e and nonce k.
constexpr char kExampleD[] = "7A929ADE789BB9BE10ED359DD39A72C11B60961F49397EEE1D19CE9891EC3B28";
constexpr char kExampleE[] = "2DFBC1B372D89A1188C09C52E0EEC61FCE52032AB1022E8E67ECE6672B043EE5";
constexpr char kExampleK[] = "77105C9B20BCD3122823C8CF6FCC7B956DE33814E95B7FE64FED924594DCEAB3";

std::string Digest(const std::string& text) {
    uint8_t d[32];
    Gostr3411::Digest(text.data(), text.size(), d);
    return HexOf(d, 32);
}

TEST(Gostr3411, KnownAnswersOfTheTestParameterSet) {
    struct Row {
        const char* message;
        const char* digest;
    };
    const Row rows[] = {
        {"This is message, length=32 bytes",
         "b1c466d37519b82e8319819ff32595e047a28cb6f83eff1c6916a815a637fffa"},
        {"Suppose the original message has length = 50 bytes",
         "471aba57a60a770d3a76130635c1fbea4ef14de51f78b4ae57dd893b62f55208"},
        {"", "ce85b99cc46752fffee35cab9a7b0278abb4c2d2055cff685af4912c49490f8d"},
        {"abc", "f3134348c44fb1b2a277729e2285ebb5cb5e0f29c975bc753b70497c06a4d51d"},
        {"message digest", "ad4434ecb18f2c99b60cbe59ec3d2469582b65273f48de72db2fde16a4889a4d"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(Digest(r.message), r.digest) << '"' << r.message << '"';
}

TEST(Gostr3411, AgreesWithLibgcryptOnLengthsAndSplits) {
    std::mt19937 rng(1234);
    std::vector<uint8_t> data(70000);
    for (auto& b : data)
        b = uint8_t(rng());
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 130; ++n)
        lengths.push_back(n);
    for (size_t n : {255, 256, 257, 1000, 4096, 65536, 65537, 70000})
        lengths.push_back(n);
    for (size_t n : lengths) {
        uint8_t ours[32], theirs[32], split[32];
        Gostr3411::Digest(data.data(), n, ours);
        GcryptDigest(data.data(), n, theirs);
        // The same message fed in random pieces.
        Gostr3411 h;
        for (size_t pos = 0; pos < n;) {
            const size_t take = std::min<size_t>(n - pos, rng() % 97);
            h.Update(data.data() + pos, take);
            pos += take;
        }
        h.Final(split);
        EXPECT_EQ(HexOf(ours, 32), HexOf(theirs, 32)) << "length " << n;
        EXPECT_EQ(HexOf(split, 32), HexOf(ours, 32)) << "length " << n;
    }
}

// The worked example of GOST R 34.10-2001 (its appendix).
TEST(Gostr3410, WorkedExampleOfTheStandard) {
    const Curve& curve = DefaultCurveContext();
    const U256 d = Hex(kExampleD);
    const U256 e = Hex(kExampleE);
    const U256 k = Hex(kExampleK);
    const AffinePoint q = DerivePublicKey(curve, d);
    EXPECT_EQ(HexOf(q.x), "7f2b49e270db6d90d8595bec458b50c58585ba1d4e9b788f6689dbd8e56fd80b");
    EXPECT_EQ(HexOf(q.y), "26f1b489d6701dd185c8413a977b3cbbaf64d1c593d26627dffb101a87ff77da");
    U256 r, s;
    ASSERT_TRUE(SignRaw(curve, d, e, k, r, s));
    EXPECT_EQ(HexOf(r), "41aa28d2f1ab148280cd9ed56feda41974053554a42767b83ad043fd39dc0493");
    EXPECT_EQ(HexOf(s), "01456c64ba4642a1653c235a98a60249bcd6d3f746b631df928014f6c5bf9c40");
    EXPECT_TRUE(curve.VerifyRaw(q, e, r, s));
}

TEST(Gostr3410, RefusesOutOfRangeValuesWrongKeysAndFlippedBits) {
    const Curve& curve = DefaultCurveContext();
    const U256 d = Hex(kExampleD);
    const U256 e = Hex(kExampleE);
    const U256 k = Hex(kExampleK);
    const AffinePoint q = DerivePublicKey(curve, d);
    U256 r, s;
    ASSERT_TRUE(SignRaw(curve, d, e, k, r, s));
    const U256 order = curve.Params().q;
    U256 rPlusQ = r; // r + q still names the same x modulo q, and must be refused
    uint64_t carry = 0;
    for (int i = 0; i < 8; ++i) {
        carry += uint64_t(rPlusQ.w[i]) + order.w[i];
        rPlusQ.w[i] = uint32_t(carry);
        carry >>= 32;
    }
    struct Row {
        const char* name;
        U256 r, s;
    };
    const Row rows[] = {{"r = 0", U256{}, s},
                        {"s = 0", r, U256{}},
                        {"r = q", order, s},
                        {"s = q", r, order},
                        {"r + q", rPlusQ, s}};
    for (const Row& row : rows)
        EXPECT_FALSE(curve.VerifyRaw(q, e, row.r, row.s)) << row.name;
    U256 e2 = e, s2 = s;
    e2.w[3] ^= 0x10;
    s2.w[0] ^= 1;
    EXPECT_FALSE(curve.VerifyRaw(q, e2, r, s));
    EXPECT_FALSE(curve.VerifyRaw(q, e, r, s2));
    const AffinePoint other = DerivePublicKey(curve, k);
    EXPECT_FALSE(curve.VerifyRaw(other, e, r, s));
    AffinePoint offCurve = q;
    offCurve.y.w[0] ^= 1;
    EXPECT_FALSE(curve.VerifyRaw(offCurve, e, r, s));
}

class GcryptSignatures : public testing::Test {
protected:
    void SetUp() override { InitGcrypt(); }
    const Curve& m_curve = DefaultCurveContext();
};

TEST_F(GcryptSignatures, OursSignTheirsVerify) {
    for (int i = 0; i < 16; ++i) {
        U256 d, k, r, s;
        ASSERT_TRUE(RandomScalar(m_curve, d));
        const AffinePoint q = DerivePublicKey(m_curve, d);
        const std::string msg = "message " + std::to_string(i);
        uint8_t digest[32];
        Gostr3411::Digest(msg.data(), msg.size(), digest);
        const U256 e = m_curve.MessageNumber(digest);
        do
            ASSERT_TRUE(RandomScalar(m_curve, k));
        while (!SignRaw(m_curve, d, e, k, r, s));
        gcry_sexp_t key = GcryptPublicKey(q), data = GcryptData(e), sig = GcryptSignature(r, s);
        EXPECT_EQ(gcry_pk_verify(sig, data, key), 0u) << i;
        gcry_sexp_release(sig);
        U256 bad = s;
        bad.w[5] ^= 4;
        sig = GcryptSignature(r, bad);
        EXPECT_NE(gcry_pk_verify(sig, data, key), 0u) << i;
        gcry_sexp_release(sig);
        gcry_sexp_release(data);
        gcry_sexp_release(key);
    }
}

TEST_F(GcryptSignatures, TheirsSignOursVerify) {
    for (int i = 0; i < 16; ++i) {
        U256 d;
        ASSERT_TRUE(RandomScalar(m_curve, d));
        const AffinePoint q = DerivePublicKey(m_curve, d);
        const std::string msg = "other message " + std::to_string(i);
        uint8_t digest[32];
        Gostr3411::Digest(msg.data(), msg.size(), digest);
        const U256 e = m_curve.MessageNumber(digest);
        gcry_sexp_t key = GcryptPrivateKey(d), data = GcryptData(e), sig = nullptr;
        ASSERT_EQ(gcry_pk_sign(&sig, data, key), 0u);
        U256 r, s;
        ASSERT_TRUE(GcryptReadSignature(sig, r, s));
        EXPECT_TRUE(m_curve.VerifyRaw(q, e, r, s)) << i;
        U256 e2 = e;
        e2.w[0] ^= 1;
        EXPECT_FALSE(m_curve.VerifyRaw(q, e2, r, s)) << i;
        gcry_sexp_release(sig);
        gcry_sexp_release(data);
        gcry_sexp_release(key);
    }
}

} // namespace
