// patchpack: writes a patch package for the tests and the demonstration, a
// compound document whose summary information carries the patch GUID, its
// target products and its transforms the way Windows Installer patch
// packages do, plus a payload stream that stands for the updated files.
//
//   patchpack --out FILE --patch-guid {GUID} [--targets {P1};{P2}]
//             [--transforms :a;:b] [--payload-bytes N]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "tools/patchpack/CompoundFile.h"

namespace {

int Usage() {
    std::cerr << "usage: patchpack --out FILE --patch-guid {GUID} [--targets LIST]"
                 " [--transforms LIST] [--payload-bytes N]\n";
    return 2;
}

// The payload: a fixed pseudo-random sequence, so that rebuilds give the
// same bytes.
zev::cfb::Bytes Payload(std::size_t size) {
    zev::cfb::Bytes out(size);
    std::uint32_t x = 0x2545F491;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x);
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    std::string out, guid, targets, transforms;
    std::size_t payloadBytes = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return Usage();
        const std::string value = argv[++i];
        if (arg == "--out")
            out = value;
        else if (arg == "--patch-guid")
            guid = value;
        else if (arg == "--targets")
            targets = value;
        else if (arg == "--transforms")
            transforms = value;
        else if (arg == "--payload-bytes")
            payloadBytes = std::strtoul(value.c_str(), nullptr, 10);
        else
            return Usage();
    }
    if (out.empty() || guid.size() != 38 || guid.front() != '{' || guid.back() != '}')
        return Usage();

    zev::cfb::SummaryInfo info;
    info.strings[zev::cfb::kPidTitle] = "Patch";
    info.strings[zev::cfb::kPidSubject] = "Private fix for the protected product";
    info.strings[zev::cfb::kPidAuthor] = "RodozavEva";
    info.strings[zev::cfb::kPidKeywords] = "Installer,Patching,PCP";
    info.strings[zev::cfb::kPidComments] = "This patch carries updated product modules.";
    info.strings[zev::cfb::kPidTemplate] = targets;
    info.strings[zev::cfb::kPidLastAuthor] = transforms;
    info.strings[zev::cfb::kPidRevision] = guid;
    info.integers[zev::cfb::kPidPageCount] = 300;
    info.integers[zev::cfb::kPidWordCount] = 0;
    info.integers[zev::cfb::kPidSecurity] = 4;

    std::vector<zev::cfb::Stream> streams;
    streams.push_back({zev::cfb::kSummaryStreamName, zev::cfb::EncodeSummaryInfo(info)});
    if (payloadBytes)
        streams.push_back({u"Payload", Payload(payloadBytes)});
    const zev::cfb::Bytes bytes =
        zev::cfb::WriteCompoundFile(streams, zev::cfb::kPatchPackageClsid);

    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        std::cerr << "patchpack: cannot write " << out << "\n";
        return 1;
    }
    return 0;
}
