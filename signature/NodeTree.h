// The tree of tagged nodes that holds every structure of the library:
// parameter lists and their items, decoded registries and signatures.
//
// An identifier carries the node's kind: bits 24 to 29 the value type,
// bit 30 an array of values of that type, bits 16 to 23 the role and bits
// 0 to 15 a serial that keeps siblings apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zsig {

inline constexpr uint32_t kKindMask = 0x7FFF0000; // type and role
inline constexpr uint32_t kArrayBit = 0x40000000;

inline constexpr uint32_t NodeType(uint32_t id) {
    return (id >> 24) & 0x3F;
}
inline constexpr bool IsArray(uint32_t id) {
    return (id & kArrayBit) != 0;
}

/// Value types of the tree stream.
enum ValueType : uint32_t {
    kTypeNone = 0x01,
    kTypeNarrowText = 0x28,
    kTypeWideText = 0x29,
    kTypeBytes = 0x2A,
};

/// Bytes of a fixed-size scalar type in the stream (0 for variable or
/// invalid types); `valid` tells whether the type exists at all.
size_t FixedValueSize(uint32_t type, bool& valid);

/// One value: the encoded bytes of a scalar (little-endian numbers, the
/// characters of a text, a byte string), or a null text.
struct Value {
    std::vector<uint8_t> bytes;
    bool null = false; ///< a text encoded as "no text" (length 0xFFFF)
};

struct Node {
    uint32_t id = 0;
    bool hasValue = false;
    Value value;              ///< scalars
    std::vector<Value> items; ///< arrays (identifier bit 30)
    std::vector<Node> children;

    Node() = default;
    explicit Node(uint32_t nodeId) : id(nodeId) {}
    Node(uint32_t nodeId, std::vector<uint8_t> bytes) : id(nodeId), hasValue(true) {
        value.bytes = std::move(bytes);
    }

    /// First child with exactly this identifier, or null.
    Node* Find(uint32_t childId);
    const Node* Find(uint32_t childId) const;
    /// First child whose kind (identifier & 0x7FFF0000) matches, or null.
    const Node* FindKind(uint32_t kind) const;
    /// Sets (or adds) the child `childId` to the bytes.
    Node& Set(uint32_t childId, std::vector<uint8_t> bytes);
    void SetU32(uint32_t childId, uint32_t v);
    /// The 32-bit little-endian value of a child; false when absent or short.
    bool GetU32(uint32_t childId, uint32_t& v) const;
    bool Remove(uint32_t childId);
};

std::vector<uint8_t> U32Bytes(uint32_t v);

} // namespace zsig
