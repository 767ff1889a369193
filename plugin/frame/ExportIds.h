// Function identifiers of the plug-in's export table, in table order. The
// metadata resource lists the first twelve.
#pragma once

#include <cstdint>

namespace zev::frame {

constexpr std::uint32_t kFidCopyObjectFile = 0xF292D15B;
constexpr std::uint32_t kFidMoveFileDelayed = 0x19BAAE35;
constexpr std::uint32_t kFidSetErrorMode = 0xD457C4FF;
constexpr std::uint32_t kFidMakeTempFileName = 0x31725308;
constexpr std::uint32_t kFidCreateDirectoryRecursively = 0x8FC48B23;
constexpr std::uint32_t kFidStartProgram = 0xD79C3509;
constexpr std::uint32_t kFidFindTempFolder = 0x5BF195C6;
constexpr std::uint32_t kFidLongPathName = 0xF97328FD;
constexpr std::uint32_t kFidFreeSpace = 0x78931A01;
constexpr std::uint32_t kFidRemoveDir = 0x31249954;
constexpr std::uint32_t kFidVlDeleteFile = 0xF207330E;
constexpr std::uint32_t kFidTotalBytesWritten = 0xD986CF4C;
constexpr std::uint32_t kFidUniversalName = 0xC5BEB83C;

constexpr std::uint32_t kExportCount = 13;
/// Exports listed in the metadata resource.
constexpr std::uint32_t kMetadataExportCount = 12;

} // namespace zev::frame
