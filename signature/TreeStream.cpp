#include "signature/TreeStream.h"

#include <cstring>

#include "signature/Crc32.h"

namespace zsig {
namespace {

// Reads logical bytes from the input; when chunked, checks the CRC that
// follows every chunk.
class Source {
public:
    Source(const uint8_t* data, size_t size, bool chunked)
        : m_data(data), m_size(size), m_chunked(chunked) {}

    bool Read(uint8_t* out, size_t n) {
        while (n > 0) {
            size_t take = n;
            if (m_chunked && take > m_chunkSize - m_inChunk)
                take = m_chunkSize - m_inChunk;
            if (take > m_size - m_pos)
                return false;
            if (m_chunked)
                m_crc = Crc32Update(m_crc, m_data + m_pos, take);
            std::memcpy(out, m_data + m_pos, take);
            m_pos += take;
            out += take;
            n -= take;
            m_inChunk += take;
            if (m_chunked && m_inChunk == m_chunkSize && !CheckCrc())
                return false;
        }
        return true;
    }
    bool Peek(uint8_t& b) const {
        if (m_pos >= m_size)
            return false;
        b = m_data[m_pos];
        return true;
    }
    bool U8(uint8_t& v) { return Read(&v, 1); }
    bool U16(uint16_t& v) {
        uint8_t b[2];
        if (!Read(b, 2))
            return false;
        v = uint16_t(b[0] | b[1] << 8);
        return true;
    }
    bool U32(uint32_t& v) {
        uint8_t b[4];
        if (!Read(b, 4))
            return false;
        v = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
        return true;
    }
    size_t Remaining() const { return m_size - m_pos; }
    void SetChunkSize(uint32_t n) { m_chunkSize = n; }
    size_t Position() const { return m_pos; }
    /// Checks the CRC of the last, partial chunk (nothing when not chunked).
    bool Finish() { return !m_chunked || m_inChunk == 0 || CheckCrc(); }

private:
    bool CheckCrc() {
        if (m_size - m_pos < 4)
            return false;
        const uint8_t* p = m_data + m_pos;
        const uint32_t stored =
            uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        m_pos += 4;
        const bool ok = stored == m_crc;
        m_crc = kCrcInitial;
        m_inChunk = 0;
        return ok;
    }

    const uint8_t* m_data;
    size_t m_size;
    bool m_chunked;
    size_t m_pos = 0;
    size_t m_chunkSize = kDefaultChunkSize;
    size_t m_inChunk = 0;
    uint32_t m_crc = kCrcInitial;
};

class Decoder {
public:
    explicit Decoder(Source& src) : m_src(src) {}

    bool Record(Node& parent, int depth) {
        if (depth > kMaxTreeDepth || ++m_nodes > kMaxTreeNodes)
            return false;
        uint8_t flags;
        uint32_t id;
        if (!m_src.U8(flags) || (flags & 0xF8) != 0 || !m_src.U32(id))
            return false;
        if (depth == 0 && (flags & 4)) // the root has no parent to share
            return false;
        parent.children.emplace_back(id & 0x7FFFFFFF);
        // `parent.children` may grow below, so the node is reached by index.
        const size_t index = parent.children.size() - 1;
        if (flags & 1) {
            Node& n = parent.children[index];
            n.hasValue = true;
            if (!NodeValue(n))
                return false;
        }
        for (;;) {
            uint32_t attr;
            if (!m_src.U32(attr))
                return false;
            attr &= 0x7FFFFFFF;
            if (attr == kAttributesEnd || attr == kAttributesEndAlt)
                break;
            if (++m_nodes > kMaxTreeNodes)
                return false;
            Node child(attr);
            child.hasValue = true;
            if (!NodeValue(child))
                return false;
            parent.children[index].children.push_back(std::move(child));
        }
        if (flags & 2) {
            Node& self = parent.children[index];
            if (!Record(self, depth + 1))
                return false;
        }
        if (flags & 4) {
            for (;;) {
                uint8_t b;
                if (!m_src.Peek(b))
                    return false;
                if (b == 0xFF) {
                    m_src.U8(b);
                    break;
                }
                if (!Record(parent, depth + 1))
                    return false;
            }
        }
        return true;
    }

private:
    bool NodeValue(Node& n) {
        const uint32_t type = NodeType(n.id);
        if (IsArray(n.id)) {
            if (type == 0)
                return false;
            uint16_t count, growth;
            if (!m_src.U16(count) || !m_src.U16(growth))
                return false;
            m_elements += count;
            if (m_elements > kMaxArrayElements)
                return false;
            if (type == 0x0A) {
                uint8_t bits = 0;
                for (uint32_t i = 0; i < count; ++i) {
                    if (i % 8 == 0 && !m_src.U8(bits))
                        return false;
                    n.items.push_back(Value{U32Bytes((bits >> (i % 8)) & 1), false});
                }
                return true;
            }
            for (uint32_t i = 0; i < count; ++i) {
                Value v;
                if (!Scalar(type, v))
                    return false;
                n.items.push_back(std::move(v));
            }
            return true;
        }
        return Scalar(type, n.value);
    }

    bool Scalar(uint32_t type, Value& v) {
        bool valid;
        size_t size = FixedValueSize(type, valid);
        if (!valid)
            return false;
        if (type == kTypeNarrowText || type == kTypeWideText || type == kTypeBytes) {
            uint16_t len;
            if (!m_src.U16(len))
                return false;
            if (len == 0xFFFF && type != kTypeBytes) {
                v.null = true;
                return true;
            }
            if (type == kTypeWideText && len % 2 != 0)
                return false;
            size = len;
        }
        if (size > m_src.Remaining())
            return false;
        v.bytes.resize(size);
        if (size > 0 && !m_src.Read(v.bytes.data(), size))
            return false;
        if (type == 0x0A) // a boolean is widened to 32 bits in memory
            v.bytes = U32Bytes(v.bytes[0] != 0);
        return true;
    }

    Source& m_src;
    size_t m_nodes = 0;
    size_t m_elements = 0;
};

// ---- encoding ----

void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

void PutScalar(std::vector<uint8_t>& out, uint32_t type, const Value& v) {
    if (type == kTypeNarrowText || type == kTypeWideText || type == kTypeBytes) {
        if (v.null && type != kTypeBytes) {
            Put16(out, 0xFFFF);
            return;
        }
        const size_t len = v.bytes.size() < 0xFFFF ? v.bytes.size() : 0xFFFE;
        Put16(out, uint16_t(len));
        out.insert(out.end(), v.bytes.begin(), v.bytes.begin() + len);
        return;
    }
    bool valid;
    const size_t size = FixedValueSize(type, valid);
    if (type == 0x0A) {
        out.push_back(!v.bytes.empty() && v.bytes[0] != 0);
        return;
    }
    for (size_t i = 0; i < size; ++i)
        out.push_back(i < v.bytes.size() ? v.bytes[i] : 0);
}

void PutValue(std::vector<uint8_t>& out, const Node& n) {
    const uint32_t type = NodeType(n.id);
    if (!IsArray(n.id)) {
        PutScalar(out, type, n.value);
        return;
    }
    const uint16_t count = uint16_t(n.items.size() < 0xFFFF ? n.items.size() : 0xFFFF);
    Put16(out, count);
    Put16(out, 1);
    if (type == 0x0A) {
        for (uint32_t i = 0; i < count; i += 8) {
            uint8_t bits = 0;
            for (uint32_t j = 0; j < 8 && i + j < count; ++j) {
                const auto& b = n.items[i + j].bytes;
                if (!b.empty() && b[0] != 0)
                    bits |= uint8_t(1u << j);
            }
            out.push_back(bits);
        }
        return;
    }
    for (uint32_t i = 0; i < count; ++i)
        PutScalar(out, type, n.items[i]);
}

void PutRecord(std::vector<uint8_t>& out, const Node& n, bool hasSiblings) {
    uint8_t flags = 0;
    if (n.hasValue)
        flags |= 1;
    if (!n.children.empty())
        flags |= 2;
    if (hasSiblings)
        flags |= 4;
    out.push_back(flags);
    Put32(out, n.id & 0x7FFFFFFF);
    if (n.hasValue)
        PutValue(out, n);
    Put32(out, kAttributesEnd);
    if (!n.children.empty()) {
        PutRecord(out, n.children[0], n.children.size() > 1);
        if (n.children.size() > 1) {
            for (size_t i = 1; i < n.children.size(); ++i)
                PutRecord(out, n.children[i], false);
            out.push_back(0xFF);
        }
    }
}

// One root record, then the CRC of the last chunk (when chunked).
Result DecodeRoot(Source& src, Node& root, size_t& consumed) {
    Node holder;
    Decoder dec(src);
    if (!dec.Record(holder, 0) || holder.children.size() != 1 || !src.Finish())
        return kContainerNoData;
    root = std::move(holder.children[0]);
    consumed = src.Position();
    return kOk;
}

} // namespace

Result DecodeTreeStream(const uint8_t* data, size_t size, Node& root, size_t& consumed) {
    consumed = 0;
    if (!data || size == 0)
        return kContainerNoData;
    Source src(data, size, true);
    uint16_t marker;
    uint32_t version, chunkSize;
    if (!src.U16(marker))
        return kContainerNoData;
    if (marker != kStreamMarker)
        return kContainerBadMagic;
    if (!src.U32(version) || !src.U32(chunkSize))
        return kContainerNoData;
    if (version != kStreamVersion)
        return kContainerBadVersion;
    if (chunkSize < kMinChunkSize || chunkSize > kMaxChunkSize)
        return kContainerNoData;
    src.SetChunkSize(chunkSize);
    return DecodeRoot(src, root, consumed);
}

Result DecodeNodeRecord(const uint8_t* data, size_t size, Node& root, size_t& consumed) {
    consumed = 0;
    if (!data || size == 0)
        return kContainerNoData;
    Source src(data, size, false);
    return DecodeRoot(src, root, consumed);
}

std::vector<uint8_t> EncodeNodeRecord(const Node& root) {
    std::vector<uint8_t> out;
    PutRecord(out, root, false);
    return out;
}

std::vector<uint8_t> EncodeTreeStream(const Node& root, uint32_t chunkSize) {
    std::vector<uint8_t> logical;
    Put16(logical, kStreamMarker);
    Put32(logical, kStreamVersion);
    Put32(logical, chunkSize);
    PutRecord(logical, root, false);
    std::vector<uint8_t> out;
    for (size_t pos = 0; pos < logical.size(); pos += chunkSize) {
        const size_t n = logical.size() - pos < chunkSize ? logical.size() - pos : chunkSize;
        out.insert(out.end(), logical.begin() + pos, logical.begin() + pos + n);
        Put32(out, Crc32Update(kCrcInitial, logical.data() + pos, n));
    }
    return out;
}

} // namespace zsig
