// libgcrypt as the reference implementation of the differential tests and
// the benchmark: GOST R 34.11-94 and GOST R 34.10-2001 over "GOST2001-test".
#pragma once

#include <gcrypt.h>

#include <cstdint>
#include <string>

#include "signature/Gostr3410.h"

namespace zev::test {

/// Initialises libgcrypt once (no secure memory).
void InitGcrypt();

std::string HexOf(const uint8_t* data, size_t size);
std::string HexOf(const zsig::U256& v);

/// The digest by libgcrypt.
void GcryptDigest(const void* data, size_t size, uint8_t out[32]);

/// Key s-expressions; the message number e goes in as a big-endian value
/// with the gost flag, so both sides sign and verify the same number.
gcry_sexp_t GcryptPublicKey(const zsig::AffinePoint& q);
gcry_sexp_t GcryptPrivateKey(const zsig::U256& d);
gcry_sexp_t GcryptData(const zsig::U256& e);
gcry_sexp_t GcryptSignature(const zsig::U256& r, const zsig::U256& s);
/// (r, s) out of a sig-val s-expression; false when it has another shape.
bool GcryptReadSignature(gcry_sexp_t sig, zsig::U256& r, zsig::U256& s);

} // namespace zev::test
