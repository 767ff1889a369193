// The serialised form of a node tree, and its decoder for untrusted bytes.
//
// Stream: marker 0xADAD (2 bytes), version 1 (4), chunk size (4), then one
// node record; all integers little-endian. The bytes are cut into chunks
// of the chunk size (1020 until the header's own value is known), each
// followed by the CRC-32 of its bytes; the last, partial chunk is followed
// by its CRC too (a stream that ends exactly on a chunk boundary has no
// further empty chunk).
//
// Node record: flags (1 byte: bit 0 a value follows, bit 1 a first child
// follows, bit 2 a list of siblings follows, bits 3-7 zero), identifier (4,
// bit 31 ignored), the value, attributes (identifier and value pairs, each
// a child node) ended by 0x12000001 or 0x09000001, the first child's record
// and then the siblings' records up to a byte 0xFF.
//
// Decoding failures:
//   kContainerBadMagic    the marker is not 0xADAD
//   kContainerBadVersion  the stream version is not 1
//   kContainerNoData      truncated or malformed bytes: a CRC mismatch, an
//                         invalid type or flag, nesting deeper than
//                         kMaxTreeDepth, more than kMaxTreeNodes nodes or
//                         kMaxArrayElements array elements, a chunk size
//                         outside 16..0x100000.
// Nothing is allocated beyond what the input bytes can account for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "signature/NodeTree.h"
#include "signature/ZsigResult.h"

namespace zsig {

inline constexpr uint16_t kStreamMarker = 0xADAD;
inline constexpr uint32_t kStreamVersion = 1;
inline constexpr uint32_t kDefaultChunkSize = 0x3FC;
inline constexpr uint32_t kMinChunkSize = 16;
inline constexpr uint32_t kMaxChunkSize = 0x100000;
inline constexpr int kMaxTreeDepth = 64;
inline constexpr size_t kMaxTreeNodes = 0x10000;
inline constexpr size_t kMaxArrayElements = 0x100000;
inline constexpr uint32_t kAttributesEnd = 0x09000001;
inline constexpr uint32_t kAttributesEndAlt = 0x12000001;

/// Decodes one tree stream from the start of `data`; `consumed` receives
/// the number of bytes it took (CRCs included).
Result DecodeTreeStream(const uint8_t* data, size_t size, Node& root, size_t& consumed);

/// Encodes `root` as a tree stream with the given chunk size.
std::vector<uint8_t> EncodeTreeStream(const Node& root, uint32_t chunkSize = kDefaultChunkSize);

/// Decodes a bare node record (no stream header, no CRC chunks): the
/// record layer on its own, for tests and fuzzing.
Result DecodeNodeRecord(const uint8_t* data, size_t size, Node& root, size_t& consumed);
/// Encodes a bare node record.
std::vector<uint8_t> EncodeNodeRecord(const Node& root);

} // namespace zsig
