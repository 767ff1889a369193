#include "signature/EndTag.h"

#include <cstring>

namespace zsig {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kTagStart[] = "\r\n;:";
constexpr char kTagEnd[] = "%%";

int Sextet(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

} // namespace

std::string Base64Encode(const uint8_t* data, size_t size) {
    std::string out;
    for (size_t i = 0; i + 2 < size; i += 3) {
        const uint32_t v = uint32_t(data[i]) << 16 | uint32_t(data[i + 1]) << 8 | data[i + 2];
        for (int k = 3; k >= 0; --k)
            out.push_back(kAlphabet[(v >> (6 * k)) & 63]);
    }
    return out;
}

bool Base64Decode(const char* text, size_t size, uint8_t* out) {
    if (size % 4 != 0)
        return false;
    for (size_t i = 0; i < size; i += 4) {
        uint32_t v = 0;
        for (int k = 0; k < 4; ++k) {
            const int s = Sextet(text[i + k]);
            if (s < 0)
                return false;
            v = v << 6 | uint32_t(s);
        }
        *out++ = uint8_t(v >> 16);
        *out++ = uint8_t(v >> 8);
        *out++ = uint8_t(v);
    }
    return true;
}

TagScan FindEndTag(const uint8_t* content, size_t size, EndTag& tag) {
    if (!content || size < kEndTagSize)
        return TagScan::kAbsent;
    const char* t = reinterpret_cast<const char*>(content + size - kEndTagSize);
    if (std::memcmp(t + kEndTagSize - 2, kTagEnd, 2) != 0)
        return TagScan::kAbsent;
    uint8_t payload[kEndTagPayload];
    if (std::memcmp(t, kTagStart, 4) != 0 || !Base64Decode(t + 4, 88, payload) ||
        payload[0] != kEndTagVersion)
        return TagScan::kMalformed;
    tag.keyNumber = payload[1];
    std::memcpy(tag.signature, payload + 2, 64);
    return TagScan::kFound;
}

std::string MakeEndTag(const EndTag& tag) {
    uint8_t payload[kEndTagPayload];
    payload[0] = kEndTagVersion;
    payload[1] = tag.keyNumber;
    std::memcpy(payload + 2, tag.signature, 64);
    return std::string(kTagStart) + Base64Encode(payload, sizeof payload) + kTagEnd;
}

} // namespace zsig
