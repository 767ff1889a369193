#include "signature/NodeTree.h"

#include <algorithm>

namespace zsig {

size_t FixedValueSize(uint32_t type, bool& valid) {
    valid = true;
    switch (type) {
    case 0x01:
        return 0;
    case 0x02:
    case 0x06:
    case 0x07:
    case 0x0A:
        return 1;
    case 0x03:
    case 0x04:
    case 0x08:
        return 2;
    case 0x05:
    case 0x09:
    case 0x0E:
    case 0x0F:
    case 0x12:
        return 4;
    case 0x0B:
    case 0x0C:
    case 0x10:
    case 0x11:
        return 8;
    case 0x0D:
        return 16;
    case kTypeNarrowText:
    case kTypeWideText:
    case kTypeBytes:
        return 0;
    default:
        valid = false;
        return 0;
    }
}

Node* Node::Find(uint32_t childId) {
    for (Node& c : children) {
        if (c.id == childId)
            return &c;
    }
    return nullptr;
}

const Node* Node::Find(uint32_t childId) const {
    return const_cast<Node*>(this)->Find(childId);
}

const Node* Node::FindKind(uint32_t kind) const {
    for (const Node& c : children) {
        if ((c.id & kKindMask) == (kind & kKindMask))
            return &c;
    }
    return nullptr;
}

Node& Node::Set(uint32_t childId, std::vector<uint8_t> bytes) {
    Node* n = Find(childId);
    if (!n) {
        children.emplace_back(childId);
        n = &children.back();
    }
    n->hasValue = true;
    n->value.bytes = std::move(bytes);
    n->value.null = false;
    return *n;
}

std::vector<uint8_t> U32Bytes(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

void Node::SetU32(uint32_t childId, uint32_t v) {
    Set(childId, U32Bytes(v));
}

bool Node::GetU32(uint32_t childId, uint32_t& v) const {
    const Node* n = Find(childId);
    if (!n || !n->hasValue || n->value.bytes.size() < 4)
        return false;
    const auto& b = n->value.bytes;
    v = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    return true;
}

bool Node::Remove(uint32_t childId) {
    auto it = std::find_if(children.begin(), children.end(),
                           [&](const Node& c) { return c.id == childId; });
    if (it == children.end())
        return false;
    children.erase(it);
    return true;
}

} // namespace zsig
