// What the product stand-ins share: the pipe between "vlremote.dll" and
// "grd.exe", the files they keep in the product folder, and the settings
// a test injects through "testbed.ini" there.
//
//   testbed.ini  [vlremote] Proxy=unavailable   RemoteGetProxy refuses
//                [grd]      Refuse=<class>:<id> ...   messages refused
//   grd.journal  one line per event of grd.exe ("start", "accept", ...)
//   vlremote.log one line per call into vlremote.dll
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "installer/system/FrameworkResults.h"

namespace zev::testbed {

inline constexpr wchar_t kSettingsFile[] = L"testbed.ini";
inline constexpr wchar_t kJournalFile[] = L"grd.journal";
inline constexpr wchar_t kLibraryLogFile[] = L"vlremote.log";

enum class RequestKind : std::uint32_t { Ping = 1, Message = 2, Stop = 3 };

inline constexpr std::uint32_t kMaxPayload = 64;

struct GrdRequest {
    RequestKind kind;
    std::uint32_t msgClass;
    std::uint32_t msgId;
    std::uint32_t typeId; ///< serializable record type, 0 for raw bytes
    std::uint32_t payloadSize;
    std::uint8_t payload[kMaxPayload];
};

struct GrdReply {
    velora::tERROR result;
};

/// The folder of the module that holds `address` (no trailing backslash).
std::wstring ModuleFolder(const void* address);
/// The pipe grd.exe serves for the product in `folder`.
std::wstring PipeName(const std::wstring& folder);
/// Appends one line to `path` (opened and closed for the line).
void AppendLine(const std::wstring& path, const std::string& line);
/// A value of testbed.ini in `folder` (empty when missing).
std::wstring Setting(const std::wstring& folder, const wchar_t* section, const wchar_t* name);
/// printf into a std::string.
std::string Format(const char* format, ...);

} // namespace zev::testbed
