#include "signature/Container.h"

#include <cstring>

#include "signature/NodeIds.h"
#include "signature/TreeStream.h"

namespace zsig {
namespace {

constexpr uint8_t kContainerMagic[4] = {0x41, 0x4C, 0x72, 0x67}; // "ALrg"
constexpr uint8_t kBlockMagic[4] = {0x41, 0x4C, 0x73, 0x77};     // "ALsw"
constexpr size_t kBlockHeaderSize = 6;

} // namespace

Result ReadContainerHeader(const uint8_t* data, size_t size, ContainerHeader& header) {
    if (!data || size < kContainerHeaderSize)
        return kContainerNoData;
    if (std::memcmp(data, kContainerMagic, 4) != 0)
        return kContainerBadMagic;
    const uint32_t word = uint32_t(data[4]) | uint32_t(data[5]) << 8 | uint32_t(data[6]) << 16 |
                          uint32_t(data[7]) << 24;
    header.version = uint8_t(word);
    header.id = (word >> 8) & kMaxRegistryId;
    header.flag = (word >> 31) != 0;
    if (header.version != kContainerVersion)
        return kContainerBadVersion;
    return kOk;
}

Result DecodeBlock(const uint8_t* data, size_t size, Node& out, size_t& consumed) {
    consumed = 0;
    if (!data || size < kBlockHeaderSize)
        return kContainerNoData;
    if (std::memcmp(data, kBlockMagic, 4) != 0)
        return kContainerBadMagic;
    const uint16_t type = uint16_t(data[4] | data[5] << 8);
    if (type != 0 && type != 3)
        return kContainerBadVersion;
    size_t used = 0;
    const Result r = DecodeTreeStream(data + kBlockHeaderSize, size - kBlockHeaderSize, out, used);
    if (r != kOk)
        return r;
    consumed = kBlockHeaderSize + used;
    return kOk;
}

Result ReadContainer(const uint8_t* data, size_t size, std::optional<uint32_t> expectedId,
                     Node& out, ContainerHeader* headerOut) {
    ContainerHeader header;
    Result r = ReadContainerHeader(data, size, header);
    if (r != kOk)
        return r;
    if (expectedId && *expectedId != header.id)
        return kContainerWrongId;
    size_t pos = kContainerHeaderSize;
    if (pos == size)
        return kContainerNoData;
    Node container;
    bool first = true;
    while (pos < size) {
        Node tree;
        size_t used = 0;
        r = DecodeBlock(data + pos, size - pos, tree, used);
        if (r != kOk)
            return r;
        pos += used;
        if (first)
            container = std::move(tree);
        else
            container.children.push_back(std::move(tree));
        first = false;
    }
    container.Set(kIdHeaderFlag, {uint8_t(header.flag)});
    container.SetU32(kIdRegistryId, header.id);
    out = std::move(container);
    if (headerOut)
        *headerOut = header;
    return kOk;
}

std::vector<uint8_t> WriteContainer(const Node& tree, uint32_t id, bool flag) {
    std::vector<uint8_t> out(kContainerMagic, kContainerMagic + 4);
    const uint32_t word = kContainerVersion | (id & kMaxRegistryId) << 8 | (flag ? 1u << 31 : 0);
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(word >> (8 * i)));
    out.insert(out.end(), kBlockMagic, kBlockMagic + 4);
    out.push_back(0);
    out.push_back(0);
    const std::vector<uint8_t> stream = EncodeTreeStream(tree);
    out.insert(out.end(), stream.begin(), stream.end());
    return out;
}

} // namespace zsig
