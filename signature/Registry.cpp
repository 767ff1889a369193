#include "signature/Registry.h"

#include <algorithm>

#include "signature/NodeIds.h"

namespace zsig {

Node MakeKeyTree(const std::vector<PublicKey>& keys) {
    Node root(kRegistryRoot);
    for (const PublicKey& k : keys)
        root.children.emplace_back(kKeyNodeKind | k.number,
                                   std::vector<uint8_t>(k.key.begin(), k.key.end()));
    return root;
}

std::vector<PublicKey> ReadKeys(const Node& tree) {
    std::vector<PublicKey> keys;
    for (const Node& c : tree.children) {
        const uint32_t number = c.id & 0xFFFF;
        if ((c.id & kKindMask) != kKeyNodeKind || !c.hasValue || c.value.bytes.size() != 64 ||
            number == 0 || number > 0xFF)
            continue;
        PublicKey k;
        k.number = uint8_t(number);
        std::copy(c.value.bytes.begin(), c.value.bytes.end(), k.key.begin());
        keys.push_back(k);
    }
    return keys;
}

Node MakeDigestTree(const std::vector<Digest>& digests) {
    Node root(kRegistryRoot);
    uint32_t position = 1;
    for (const Digest& d : digests)
        root.children.emplace_back(kDigestNodeKind | position++,
                                   std::vector<uint8_t>(d.begin(), d.end()));
    return root;
}

std::vector<Digest> ReadDigests(const Node& tree) {
    std::vector<Digest> out;
    for (const Node& c : tree.children) {
        if ((c.id & kKindMask) != kDigestNodeKind || !c.hasValue || c.value.bytes.size() != 32)
            continue;
        Digest d;
        std::copy(c.value.bytes.begin(), c.value.bytes.end(), d.begin());
        out.push_back(d);
    }
    return out;
}

} // namespace zsig
