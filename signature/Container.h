// Containers: the byte form of registry files and signatures.
//
// "ALrg", a little-endian header word (bits 0-7 version 1, bits 8-30 the
// 23-bit registry identifier, bit 31 a flag), then one or more blocks, each
// "ALsw", a 16-bit block type and, for types 0 and 3, a tree stream. The
// first block's tree becomes the container node (with the header's flag
// and identifier as children 0x011E0002 and 0x091E0001); the trees of
// further blocks become its children.
//
// Results: kContainerNoData (shorter than 8 bytes, no block, a truncated
// or malformed block), kContainerBadMagic, kContainerBadVersion (also for a
// block type other than 0 and 3: the packing codecs are not supported, we
// write type 0 only), kContainerWrongId, and the tree stream's codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "signature/NodeTree.h"
#include "signature/ZsigResult.h"

namespace zsig {

inline constexpr uint8_t kContainerVersion = 1;
inline constexpr size_t kContainerHeaderSize = 8;
inline constexpr uint32_t kMaxRegistryId = 0x7FFFFF;

struct ContainerHeader {
    uint8_t version = 0;
    uint32_t id = 0;
    bool flag = false;
};

/// Reads the 8-byte header only.
Result ReadContainerHeader(const uint8_t* data, size_t size, ContainerHeader& header);

/// Reads a whole container; `expectedId` refuses any other identifier.
Result ReadContainer(const uint8_t* data, size_t size, std::optional<uint32_t> expectedId,
                     Node& out, ContainerHeader* header = nullptr);

/// Decodes one block ("ALsw", type, tree stream) from the start of `data`.
Result DecodeBlock(const uint8_t* data, size_t size, Node& out, size_t& consumed);

/// Writes a container with one type-0 block.
std::vector<uint8_t> WriteContainer(const Node& tree, uint32_t id, bool flag = false);

} // namespace zsig
