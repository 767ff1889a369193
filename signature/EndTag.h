// The signature tag that closes a signed file: carriage return, line feed,
// ";", ":", 88 Base64 characters and "%%" (94 bytes). The Base64 text holds
// 66 bytes: a format version (1), the number of the signing key, and the
// signature r then s (32-byte big-endian integers each). The signature
// covers the GOST R 34.11-94 digest of everything before the tag.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zsig {

inline constexpr size_t kEndTagSize = 94;
inline constexpr size_t kEndTagPayload = 66;
inline constexpr uint8_t kEndTagVersion = 1;

struct EndTag {
    uint8_t keyNumber = 0;
    uint8_t signature[64] = {};
};

enum class TagScan {
    kAbsent,    ///< the content does not end with "%%" (or is too short)
    kMalformed, ///< it ends with "%%", but the rest is not a valid tag
    kFound,
};

/// Looks at the last 94 bytes of the content.
TagScan FindEndTag(const uint8_t* content, size_t size, EndTag& tag);

/// The 94 tag bytes.
std::string MakeEndTag(const EndTag& tag);

std::string Base64Encode(const uint8_t* data, size_t size);
/// Strict decoding of a text without padding whose length is a multiple of
/// four; false on any other character.
bool Base64Decode(const char* text, size_t size, uint8_t* out);

} // namespace zsig
