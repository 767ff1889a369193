#include "tools/patchpack/CompoundFile.h"

#include <algorithm>
#include <set>
#include <stdexcept>

namespace zev::cfb {

namespace {

constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint32_t kFreeSect = 0xFFFFFFFF;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFatSect = 0xFFFFFFFD;
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
constexpr std::uint32_t kMaxRegSect = 0xFFFFFFFA;
constexpr std::size_t kHeaderSize = 512;
constexpr std::size_t kSectorSize = 512;
constexpr std::size_t kMiniSectorSize = 64;
constexpr std::uint32_t kMiniStreamCutoff = 4096;
constexpr std::size_t kHeaderDifatEntries = 109;
constexpr std::size_t kDirEntrySize = 128;
constexpr std::size_t kMaxNameUnits = 31;
constexpr std::uint8_t kTypeStream = 2;
constexpr std::uint8_t kTypeRoot = 5;
constexpr std::uint8_t kColorBlack = 1;

// Format id of the summary information property set,
// {F29F85E0-4FF9-1068-AB91-08002B27B3D9}, in its on-disk byte order.
constexpr std::uint8_t kSummaryFmtid[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                            0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
constexpr std::uint16_t kVtI2 = 2;
constexpr std::uint16_t kVtI4 = 3;
constexpr std::uint16_t kVtLpstr = 30;
constexpr std::uint16_t kVtFiletime = 64;

void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Append16(Bytes& b, std::uint16_t v) {
    b.resize(b.size() + 2);
    Put16(b, b.size() - 2, v);
}
void Append32(Bytes& b, std::uint32_t v) {
    b.resize(b.size() + 4);
    Put32(b, b.size() - 4, v);
}
std::uint16_t Get16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
std::uint32_t Get32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

std::size_t CeilDiv(std::size_t a, std::size_t b) {
    return (a + b - 1) / b;
}

char16_t UpperUnit(char16_t c) {
    return (c >= u'a' && c <= u'z') ? c - (u'a' - u'A') : c;
}

// Directory order of sibling names: shorter first, then by upper-cased units.
bool NameLess(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size())
        return a.size() < b.size();
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char16_t x = UpperUnit(a[i]), y = UpperUnit(b[i]);
        if (x != y)
            return x < y;
    }
    return false;
}

struct DirEntry {
    std::u16string name;
    std::uint8_t type = 0;
    std::uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
    std::uint32_t start = kEndOfChain;
    std::uint32_t size = 0;
};

// Links the sorted sibling ids [lo, hi) as a balanced binary tree; returns
// the subtree's root id.
std::uint32_t LinkSiblings(std::vector<DirEntry>& dir, const std::vector<std::uint32_t>& ids,
                           std::size_t lo, std::size_t hi) {
    if (lo >= hi)
        return kNoStream;
    const std::size_t mid = lo + (hi - lo) / 2;
    DirEntry& e = dir[ids[mid]];
    e.left = LinkSiblings(dir, ids, lo, mid);
    e.right = LinkSiblings(dir, ids, mid + 1, hi);
    return ids[mid];
}

void WriteDirEntry(Bytes& out, std::size_t at, const DirEntry& e, const Clsid* clsid) {
    for (std::size_t i = 0; i < e.name.size(); ++i)
        Put16(out, at + 2 * i, e.name[i]);
    Put16(out, at + 64, static_cast<std::uint16_t>(e.type ? 2 * (e.name.size() + 1) : 0));
    out[at + 66] = e.type;
    out[at + 67] = e.type ? kColorBlack : 0;
    Put32(out, at + 68, e.left);
    Put32(out, at + 72, e.right);
    Put32(out, at + 76, e.child);
    if (clsid)
        std::copy(clsid->begin(), clsid->end(), out.begin() + at + 80);
    Put32(out, at + 116, e.type ? e.start : 0);
    Put32(out, at + 120, e.size);
}

} // namespace

Bytes WriteCompoundFile(const std::vector<Stream>& streams, const Clsid& rootClsid) {
    std::vector<DirEntry> dir(1);
    dir[0].name = u"Root Entry";
    dir[0].type = kTypeRoot;
    for (const Stream& s : streams) {
        if (s.name.empty() || s.name.size() > kMaxNameUnits)
            throw std::invalid_argument("compound file: bad stream name length");
        for (const DirEntry& e : dir)
            if (e.type == kTypeStream && !NameLess(e.name, s.name) && !NameLess(s.name, e.name))
                throw std::invalid_argument("compound file: duplicate stream name");
        DirEntry e;
        e.name = s.name;
        e.type = kTypeStream;
        e.size = static_cast<std::uint32_t>(s.data.size());
        dir.push_back(e);
    }
    std::vector<std::uint32_t> ids;
    for (std::uint32_t i = 1; i < dir.size(); ++i)
        ids.push_back(i);
    std::sort(ids.begin(), ids.end(),
              [&](std::uint32_t a, std::uint32_t b) { return NameLess(dir[a].name, dir[b].name); });
    dir[0].child = LinkSiblings(dir, ids, 0, ids.size());

    // Mini stream: the small streams, each padded to whole mini sectors.
    Bytes mini;
    std::vector<std::uint32_t> miniFat;
    std::size_t bigSectors = 0;
    for (std::size_t i = 0; i < streams.size(); ++i) {
        const Bytes& data = streams[i].data;
        DirEntry& e = dir[i + 1];
        if (data.empty())
            continue;
        if (data.size() < kMiniStreamCutoff) {
            const std::size_t n = CeilDiv(data.size(), kMiniSectorSize);
            e.start = static_cast<std::uint32_t>(miniFat.size());
            for (std::size_t k = 0; k < n; ++k)
                miniFat.push_back(k + 1 < n ? e.start + static_cast<std::uint32_t>(k) + 1
                                            : kEndOfChain);
            mini.insert(mini.end(), data.begin(), data.end());
            mini.resize(miniFat.size() * kMiniSectorSize, 0);
        } else {
            bigSectors += CeilDiv(data.size(), kSectorSize);
        }
    }
    const std::size_t dirSectors = CeilDiv(dir.size() * kDirEntrySize, kSectorSize);
    const std::size_t miniFatSectors = CeilDiv(miniFat.size() * 4, kSectorSize);
    const std::size_t miniSectors = CeilDiv(mini.size(), kSectorSize);
    const std::size_t entriesPerSector = kSectorSize / 4;
    const std::size_t payload = dirSectors + miniFatSectors + miniSectors + bigSectors;
    std::size_t fatSectors = 1;
    while (fatSectors * entriesPerSector < fatSectors + payload)
        ++fatSectors;
    if (fatSectors > kHeaderDifatEntries)
        throw std::invalid_argument("compound file: too large");
    const std::size_t total = fatSectors + payload;

    // Sector order: FAT, directory, mini FAT, mini stream, large streams.
    std::vector<std::uint32_t> fat(fatSectors * entriesPerSector, kFreeSect);
    std::uint32_t next = 0;
    auto chain = [&](std::size_t count) {
        const std::uint32_t first = count ? next : kEndOfChain;
        for (std::size_t k = 0; k < count; ++k, ++next)
            fat[next] = k + 1 < count ? next + 1 : kEndOfChain;
        return first;
    };
    for (std::size_t k = 0; k < fatSectors; ++k)
        fat[next++] = kFatSect;
    const std::uint32_t dirStart = chain(dirSectors);
    const std::uint32_t miniFatStart = chain(miniFatSectors);
    dir[0].start = chain(miniSectors);
    dir[0].size = static_cast<std::uint32_t>(mini.size());
    for (std::size_t i = 0; i < streams.size(); ++i)
        if (streams[i].data.size() >= kMiniStreamCutoff)
            dir[i + 1].start = chain(CeilDiv(streams[i].data.size(), kSectorSize));

    Bytes out(kHeaderSize + total * kSectorSize, 0);
    std::copy(std::begin(kSignature), std::end(kSignature), out.begin());
    Put16(out, 24, 0x003E);
    Put16(out, 26, 3);
    Put16(out, 28, 0xFFFE);
    Put16(out, 30, 9);
    Put16(out, 32, 6);
    Put32(out, 44, static_cast<std::uint32_t>(fatSectors));
    Put32(out, 48, dirStart);
    Put32(out, 56, kMiniStreamCutoff);
    Put32(out, 60, miniFatStart);
    Put32(out, 64, static_cast<std::uint32_t>(miniFatSectors));
    Put32(out, 68, kEndOfChain);
    for (std::size_t k = 0; k < kHeaderDifatEntries; ++k)
        Put32(out, 76 + 4 * k, k < fatSectors ? static_cast<std::uint32_t>(k) : kFreeSect);

    auto sectorAt = [](std::uint32_t sector) { return kHeaderSize + sector * kSectorSize; };
    for (std::size_t k = 0; k < fat.size(); ++k)
        Put32(out, sectorAt(0) + 4 * k, fat[k]);
    const std::size_t dirBytes = dirSectors * kSectorSize;
    for (std::size_t k = 0; k < dirBytes / kDirEntrySize; ++k) {
        const std::size_t at = sectorAt(dirStart) + k * kDirEntrySize;
        if (k < dir.size())
            WriteDirEntry(out, at, dir[k], k == 0 ? &rootClsid : nullptr);
        else
            WriteDirEntry(out, at, DirEntry{}, nullptr);
    }
    if (miniFatSectors) {
        std::vector<std::uint32_t> padded = miniFat;
        padded.resize(miniFatSectors * entriesPerSector, kFreeSect);
        for (std::size_t k = 0; k < padded.size(); ++k)
            Put32(out, sectorAt(miniFatStart) + 4 * k, padded[k]);
    }
    if (miniSectors)
        std::copy(mini.begin(), mini.end(), out.begin() + sectorAt(dir[0].start));
    for (std::size_t i = 0; i < streams.size(); ++i)
        if (streams[i].data.size() >= kMiniStreamCutoff)
            std::copy(streams[i].data.begin(), streams[i].data.end(),
                      out.begin() + sectorAt(dir[i + 1].start));
    return out;
}

namespace {

// A parsed document: its sector size, FAT and directory.
class Reader {
public:
    explicit Reader(const Bytes& file) : m_file(file) {}

    bool Open() {
        if (m_file.size() < kHeaderSize ||
            !std::equal(std::begin(kSignature), std::end(kSignature), m_file.begin()))
            return false;
        if (Get16(m_file, 28) != 0xFFFE)
            return false;
        const std::uint16_t shift = Get16(m_file, 30), miniShift = Get16(m_file, 32);
        if ((shift != 9 && shift != 12) || miniShift != 6)
            return false;
        m_sectorSize = std::size_t{1} << shift;
        m_sectorCount = (m_file.size() - kHeaderSize) / m_sectorSize;
        m_cutoff = Get32(m_file, 56);

        // FAT sectors: the header's DIFAT, then the DIFAT chain.
        std::vector<std::uint32_t> fatSectors;
        const std::uint32_t fatCount = Get32(m_file, 44);
        for (std::size_t k = 0; k < kHeaderDifatEntries && fatSectors.size() < fatCount; ++k)
            fatSectors.push_back(Get32(m_file, 76 + 4 * k));
        std::uint32_t difat = Get32(m_file, 68);
        const std::size_t perSector = m_sectorSize / 4;
        for (std::size_t guard = 0; fatSectors.size() < fatCount; ++guard) {
            if (difat >= m_sectorCount || guard > m_sectorCount)
                return false;
            const std::size_t at = Offset(difat);
            for (std::size_t k = 0; k + 1 < perSector && fatSectors.size() < fatCount; ++k)
                fatSectors.push_back(Get32(m_file, at + 4 * k));
            difat = Get32(m_file, at + 4 * (perSector - 1));
        }
        for (std::uint32_t s : fatSectors) {
            if (s >= m_sectorCount)
                return false;
            for (std::size_t k = 0; k < perSector; ++k)
                m_fat.push_back(Get32(m_file, Offset(s) + 4 * k));
        }

        Bytes dirBytes;
        if (!ReadChain(m_fat, Get32(m_file, 48), nullptr, m_sectorSize, SIZE_MAX, dirBytes))
            return false;
        for (std::size_t at = 0; at + kDirEntrySize <= dirBytes.size(); at += kDirEntrySize) {
            DirEntry e;
            const std::uint16_t nameBytes = Get16(dirBytes, at + 64);
            if (nameBytes > 64 || nameBytes % 2)
                return false;
            for (std::size_t i = 0; i + 2 < nameBytes; i += 2)
                e.name.push_back(static_cast<char16_t>(Get16(dirBytes, at + i)));
            e.type = dirBytes[at + 66];
            e.left = Get32(dirBytes, at + 68);
            e.right = Get32(dirBytes, at + 72);
            e.child = Get32(dirBytes, at + 76);
            e.start = Get32(dirBytes, at + 116);
            e.size = Get32(dirBytes, at + 120);
            m_dir.push_back(e);
        }
        return !m_dir.empty() && m_dir[0].type == kTypeRoot;
    }

    // Finds a stream among the root's children by walking the sibling tree.
    bool Find(const std::u16string& name, DirEntry& found) const {
        std::vector<std::uint32_t> pending{m_dir[0].child};
        std::set<std::uint32_t> seen;
        while (!pending.empty()) {
            const std::uint32_t id = pending.back();
            pending.pop_back();
            if (id == kNoStream)
                continue;
            if (id >= m_dir.size() || !seen.insert(id).second)
                return false;
            const DirEntry& e = m_dir[id];
            if (e.type == kTypeStream && !NameLess(e.name, name) && !NameLess(name, e.name)) {
                found = e;
                return true;
            }
            pending.push_back(e.left);
            pending.push_back(e.right);
        }
        return false;
    }

    bool ReadStream(const DirEntry& e, Bytes& out) const {
        if (e.size == 0) {
            out.clear();
            return true;
        }
        if (e.size >= m_cutoff)
            return ReadChain(m_fat, e.start, nullptr, m_sectorSize, e.size, out);
        // Small stream: a chain of mini sectors inside the root's mini stream.
        Bytes miniFatBytes, ministream;
        if (!ReadChain(m_fat, Get32(m_file, 60), nullptr, m_sectorSize, SIZE_MAX, miniFatBytes) ||
            !ReadChain(m_fat, m_dir[0].start, nullptr, m_sectorSize, m_dir[0].size, ministream))
            return false;
        std::vector<std::uint32_t> miniFat;
        for (std::size_t at = 0; at + 4 <= miniFatBytes.size(); at += 4)
            miniFat.push_back(Get32(miniFatBytes, at));
        return ReadChain(miniFat, e.start, &ministream, kMiniSectorSize, e.size, out);
    }

private:
    std::size_t Offset(std::uint32_t sector) const { return kHeaderSize + sector * m_sectorSize; }

    // Follows a chain through `fat`; sectors come from the file or, for the
    // mini stream, from `pool`. Reads at most `limit` bytes and fails when
    // the chain is shorter, loops or leaves its source.
    bool ReadChain(const std::vector<std::uint32_t>& fat, std::uint32_t start, const Bytes* pool,
                   std::size_t unit, std::size_t limit, Bytes& out) const {
        Bytes data;
        std::uint32_t s = start;
        for (std::size_t guard = 0; s != kEndOfChain && data.size() < limit; ++guard) {
            if (s > kMaxRegSect || s >= fat.size() || guard > fat.size())
                return false;
            const std::size_t at = pool ? s * unit : Offset(s);
            const std::size_t available = pool ? pool->size() : m_file.size();
            if (at + unit > available)
                return false;
            const Bytes& src = pool ? *pool : m_file;
            data.insert(data.end(), src.begin() + at, src.begin() + at + unit);
            s = fat[s];
        }
        if (limit != SIZE_MAX) {
            if (data.size() < limit)
                return false;
            data.resize(limit);
        }
        out = std::move(data);
        return true;
    }

    const Bytes& m_file;
    std::size_t m_sectorSize = kSectorSize;
    std::size_t m_sectorCount = 0;
    std::uint32_t m_cutoff = kMiniStreamCutoff;
    std::vector<std::uint32_t> m_fat;
    std::vector<DirEntry> m_dir;
};

} // namespace

bool ReadRootStream(const Bytes& file, const std::u16string& name, Bytes& out) {
    Reader reader(file);
    DirEntry e;
    return reader.Open() && reader.Find(name, e) && reader.ReadStream(e, out);
}

Bytes EncodeSummaryInfo(const SummaryInfo& info) {
    // Property values, each padded to 4 bytes, keyed by property id.
    std::map<std::uint32_t, Bytes> values;
    Bytes cp;
    Append32(cp, kVtI2);
    Append16(cp, info.codepage);
    Append16(cp, 0);
    values[kPidCodepage] = cp;
    for (const auto& [pid, value] : info.integers) {
        Bytes v;
        Append32(v, kVtI4);
        Append32(v, static_cast<std::uint32_t>(value));
        values[pid] = v;
    }
    for (const auto& [pid, text] : info.strings) {
        Bytes v;
        Append32(v, kVtLpstr);
        Append32(v, static_cast<std::uint32_t>(text.size() + 1));
        v.insert(v.end(), text.begin(), text.end());
        v.push_back(0);
        v.resize(CeilDiv(v.size(), 4) * 4, 0);
        values[pid] = v;
    }

    Bytes section(8 + 8 * values.size(), 0);
    std::size_t k = 0;
    for (const auto& [pid, v] : values) {
        Put32(section, 8 + 8 * k, pid);
        Put32(section, 12 + 8 * k, static_cast<std::uint32_t>(section.size()));
        section.insert(section.end(), v.begin(), v.end());
        ++k;
    }
    Put32(section, 0, static_cast<std::uint32_t>(section.size()));
    Put32(section, 4, static_cast<std::uint32_t>(values.size()));

    Bytes out;
    Append16(out, 0xFFFE);
    Append16(out, 0);
    Append32(out, 0x00020006); // written on an NT 6.2 system
    out.resize(out.size() + 16, 0);
    Append32(out, 1);
    out.insert(out.end(), std::begin(kSummaryFmtid), std::end(kSummaryFmtid));
    Append32(out, static_cast<std::uint32_t>(out.size() + 4));
    out.insert(out.end(), section.begin(), section.end());
    return out;
}

bool DecodeSummaryInfo(const Bytes& s, SummaryInfo& out) {
    if (s.size() < 48 || Get16(s, 0) != 0xFFFE || Get32(s, 24) < 1)
        return false;
    if (!std::equal(std::begin(kSummaryFmtid), std::end(kSummaryFmtid), s.begin() + 28))
        return false;
    const std::size_t base = Get32(s, 44);
    if (base > s.size() || s.size() - base < 8)
        return false;
    const std::size_t size = Get32(s, base), count = Get32(s, base + 4);
    if (size > s.size() - base || count > (size - 8) / 8)
        return false;
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint32_t pid = Get32(s, base + 8 + 8 * k);
        const std::size_t at = Get32(s, base + 12 + 8 * k);
        if (at > size || size - at < 8)
            return false;
        const std::size_t p = base + at;
        switch (Get16(s, p)) {
        case kVtI2:
            if (pid == kPidCodepage)
                out.codepage = Get16(s, p + 4);
            else
                out.integers[pid] = static_cast<std::int16_t>(Get16(s, p + 4));
            break;
        case kVtI4:
            out.integers[pid] = static_cast<std::int32_t>(Get32(s, p + 4));
            break;
        case kVtLpstr: {
            const std::size_t n = Get32(s, p + 4);
            if (n > size - at - 8)
                return false;
            std::string text(s.begin() + p + 8, s.begin() + p + 8 + n);
            text.resize(std::min(text.size(), text.find('\0')));
            out.strings[pid] = text;
            break;
        }
        case kVtFiletime:
            break;
        default:
            return false;
        }
    }
    return true;
}

} // namespace zev::cfb
