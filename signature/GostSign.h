// GOST R 34.10-2001 signing and key derivation, for the signing tool only
// (the installer verifies and never links this). Not constant-time: it is
// meant for development keys on a build machine.
#pragma once

#include "signature/Gostr3410.h"

namespace zsig {

/// Q = d * G; d must be in 1..q-1.
AffinePoint DerivePublicKey(const Curve& curve, const U256& d);

/// (r, s) for the message number e with the nonce k (1..q-1). False when
/// r or s comes out 0: the caller draws another k.
bool SignRaw(const Curve& curve, const U256& d, const U256& e, const U256& k, U256& r, U256& s);

/// Fills `out` with a uniformly drawn number in 1..q-1 from the system's
/// random source; false when that cannot be read.
bool RandomScalar(const Curve& curve, U256& out);

} // namespace zsig
