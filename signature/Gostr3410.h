// GOST R 34.10-2001 signature verification over 256-bit prime curves.
//
// Field and scalar arithmetic use Montgomery multiplication on eight 32-bit
// words. Byte conventions (shared by zsign and the key files):
// - a public key is 64 bytes: x then y, each a 32-byte big-endian integer;
// - a signature is 64 bytes: r then s, each a 32-byte big-endian integer;
// - the digest (as Gostr3411 writes it) is read as a little-endian integer
//   alpha, and e = alpha mod q (1 when that is 0), as the standard says.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zsig {

/// A 256-bit number, least significant word first.
struct U256 {
    uint32_t w[8] = {};

    static U256 FromBigEndian(const uint8_t* bytes);
    static U256 FromLittleEndian(const uint8_t* bytes);
    void ToBigEndian(uint8_t* bytes) const;
    bool IsZero() const;
    bool Bit(int i) const { return (w[i >> 5] >> (i & 31)) & 1; }
};
int Compare(const U256& a, const U256& b);

/// Arithmetic modulo an odd 256-bit modulus in the Montgomery domain
/// (R = 2^256).
class MontField {
public:
    explicit MontField(const U256& modulus);

    const U256& Modulus() const { return m_m; }
    const U256& One() const { return m_one; }
    U256 ToMont(const U256& a) const { return Mul(a, m_r2); }
    U256 FromMont(const U256& a) const;
    U256 Mul(const U256& a, const U256& b) const;
    U256 Sqr(const U256& a) const { return Mul(a, a); }
    U256 Add(const U256& a, const U256& b) const;
    U256 Sub(const U256& a, const U256& b) const;
    /// a^-1 by Fermat's little theorem (the modulus must be prime); 0 for 0.
    U256 Inv(const U256& a) const;
    /// a mod m for any 256-bit a (the modulus is above 2^255 for our curves).
    U256 Reduce(const U256& a) const;

private:
    U256 m_m;
    uint32_t m_n0; // -m^-1 mod 2^32
    U256 m_r2;     // R^2 mod m
    U256 m_one;    // R mod m
};

struct CurveParams {
    U256 p, a, b, q, gx, gy;
};

/// The curve of the standard's worked example (libgcrypt's "GOST2001-test"):
/// p = 2^255 + 0x431, a = 7.
const CurveParams& DefaultCurve();

struct AffinePoint {
    U256 x, y;
    bool infinity = false;
};

/// A curve with its two Montgomery fields, ready for point arithmetic.
class Curve {
public:
    explicit Curve(const CurveParams& params);

    const CurveParams& Params() const { return m_params; }
    const MontField& Fp() const { return m_fp; }
    const MontField& Fq() const { return m_fq; }
    bool IsOnCurve(const AffinePoint& p) const;
    /// k1 * P1 + k2 * P2 (either scalar may be zero), in affine form.
    AffinePoint MulAdd(const U256& k1, const AffinePoint& p1, const U256& k2,
                       const AffinePoint& p2) const;
    AffinePoint BasePoint() const;

    /// Verifies (r, s) over `digest` with the 64-byte public key; false for
    /// any malformed input (r or s outside 1..q-1, a key off the curve).
    bool Verify(const uint8_t publicKey[64], const uint8_t digest[32],
                const uint8_t signature[64]) const;
    /// Raw form: e is the reduced message number (the digest's integer).
    bool VerifyRaw(const AffinePoint& key, const U256& e, const U256& r, const U256& s) const;

    /// e from a digest: its little-endian integer mod q, 1 when zero.
    U256 MessageNumber(const uint8_t digest[32]) const;

private:
    struct Jacobian;
    void Double(Jacobian& p) const;
    void AddAffine(Jacobian& p, const AffinePoint& q) const;
    AffinePoint ToAffine(const Jacobian& p) const;

    CurveParams m_params;
    MontField m_fp, m_fq;
    U256 m_aMont, m_bMont;
};

/// The default curve, built once.
const Curve& DefaultCurveContext();

} // namespace zsig
