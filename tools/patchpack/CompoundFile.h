// OLE compound documents (structured storage, version 3) and their summary
// information property set: the container format of Windows Installer
// packages. Portable code without windows.h: the package builder uses it on
// the build machine and the Windows Installer stand-in reads packages with
// it.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zev::cfb {

using Bytes = std::vector<std::uint8_t>;
using Clsid = std::array<std::uint8_t, 16>;

/// One stream of the root storage.
struct Stream {
    std::u16string name; ///< at most 31 UTF-16 units
    Bytes data;
};

/// The name of the summary information stream ("\005SummaryInformation").
inline const std::u16string kSummaryStreamName = u"\u0005SummaryInformation";

/// Class id that Windows Installer patch packages give their root storage,
/// {000C1086-0000-0000-C000-000000000046}, in its on-disk byte order.
inline constexpr Clsid kPatchPackageClsid = {0x86, 0x10, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00,
                                             0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

/// Builds a compound document (512-byte sectors) whose root storage holds
/// `streams`; streams under 4096 bytes live in the mini stream. Throws
/// std::invalid_argument for a name longer than 31 units, duplicate names or
/// a document that would need more than 109 FAT sectors.
Bytes WriteCompoundFile(const std::vector<Stream>& streams, const Clsid& rootClsid);

/// Reads the stream `name` of the root storage. Bytes after the document's
/// last sector (a signature appended to the file) are ignored. Returns false
/// when `file` is not a well-formed compound document or has no such
/// stream; `out` is then left untouched.
bool ReadRootStream(const Bytes& file, const std::u16string& name, Bytes& out);

/// Property ids of the summary information that patch packages use.
enum SummaryPid : std::uint32_t {
    kPidCodepage = 1,
    kPidTitle = 2,
    kPidSubject = 3,
    kPidAuthor = 4,
    kPidKeywords = 5,
    kPidComments = 6,
    kPidTemplate = 7,   ///< target product codes, ";"-separated
    kPidLastAuthor = 8, ///< the patch's transforms, ";"-separated
    kPidRevision = 9,   ///< the patch GUID, then the GUIDs it makes obsolete
    kPidPageCount = 14, ///< minimum installer version
    kPidWordCount = 15,
    kPidSecurity = 19,
};

/// The summary information: text properties (code page 1252 bytes) and
/// 32-bit integer properties. The code page property is always written.
struct SummaryInfo {
    std::map<std::uint32_t, std::string> strings;
    std::map<std::uint32_t, std::int32_t> integers;
    std::uint16_t codepage = 1252;
};

/// Encodes the property set stream of `info`.
Bytes EncodeSummaryInfo(const SummaryInfo& info);
/// Decodes a summary information stream; false for malformed bytes (`out`
/// may then hold part of the properties).
bool DecodeSummaryInfo(const Bytes& stream, SummaryInfo& out);

} // namespace zev::cfb
