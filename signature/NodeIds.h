// Identifiers of the nodes, items and registries the library works with.
#pragma once

#include <cstdint>

namespace zsig {

// Item kinds of parameter lists (identifier & 0x7FFF0000).
inline constexpr uint32_t kEmptyNode = 0x01000000;
inline constexpr uint32_t kKindObjectA = 0x2A0A0000;
inline constexpr uint32_t kKindObjectImage = 0x2A0B0000;
inline constexpr uint32_t kKindObjectC = 0x2A0C0000;
inline constexpr uint32_t kKindDecodedSignature = 0x2A0E0000;
inline constexpr uint32_t kKindSignatureImage = 0x2A0F0000;
inline constexpr uint32_t kKindRegistryImage = 0x2A510000;

// Children of an item.
inline constexpr uint32_t kIdContentLength = 0x090B0001;
inline constexpr uint32_t kIdStatus = 0x09280001;
inline constexpr uint32_t kIdRegistryId = 0x091E0001;
inline constexpr uint32_t kIdHeaderFlag = 0x011E0002;
inline constexpr uint32_t kIdDigest = 0x2A140000;
inline constexpr uint32_t kIdSuppliedDigest = 0x2A140001;
inline constexpr uint32_t kParamBase = 0x2A5A0000; // + parameter number
inline constexpr uint32_t kNameBase = 0x2A640000;  // + serial
inline constexpr uint32_t kIdSourceLink = 0x124B0001;

// Parameter numbers with a fixed meaning.
inline constexpr uint32_t kParamContent = 1;       // content reference (reserved)
inline constexpr uint32_t kParamReader = 2;        // reader values (reserved)
inline constexpr uint32_t kParamStatus = 3;        // read-only: the item's status
inline constexpr uint32_t kParamAcceptedBy = 4;    // 1 registry digest, 2 signature
inline constexpr uint32_t kParamDigestIndex = 6;   // position in a registry's digests
inline constexpr uint32_t kParamContentBlock = 17; // the checker's content block address
inline constexpr uint32_t kParamFullPath = 18;     // the checker's full path

// Registry (container) identifiers.
inline constexpr uint32_t kRootContainerId = 0x7FFFFE;
inline constexpr uint32_t kRootRegistryId = 0x7FFFFC;
inline constexpr uint32_t kKeyRegistryId = 0x7FFFFA;
inline constexpr uint32_t kSignatureContainerId = 0x7FFFF7;

// Contents of our registries: the root node holds one key node per key,
// the key number as its serial and the 64-byte public key (x then y, big
// endian) as its byte-string value; a digest registry holds one digest node
// per file (32 bytes each, serial counted from 1).
inline constexpr uint32_t kRegistryRoot = 0x01000000;
inline constexpr uint32_t kKeyNodeKind = 0x2A3E0000;    // + key number
inline constexpr uint32_t kDigestNodeKind = 0x2A140000; // + position

} // namespace zsig
