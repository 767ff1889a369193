// Contents of our registries: key lists and digest lists in a node tree.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "signature/NodeTree.h"

namespace zsig {

using Digest = std::array<uint8_t, 32>;

struct PublicKey {
    uint8_t number = 0;
    std::array<uint8_t, 64> key{}; ///< x then y, big-endian
};

/// A registry tree holding the keys (one node 0x2A3E0000 + number each).
Node MakeKeyTree(const std::vector<PublicKey>& keys);
/// The keys of a registry tree; nodes of another size or number are skipped.
std::vector<PublicKey> ReadKeys(const Node& tree);

/// A registry tree holding file digests (node 0x2A140000 + position, from 1).
Node MakeDigestTree(const std::vector<Digest>& digests);
std::vector<Digest> ReadDigests(const Node& tree);

} // namespace zsig
