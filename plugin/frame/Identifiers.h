// Interface, plug-in and export identifiers, code-page values, date-time
// values and trace levels shared by the framework and its plug-ins.
#pragma once

#include <cstdint>

namespace zev::frame {

// Interface identifiers.
constexpr std::uint32_t IID_IO = 10;
constexpr std::uint32_t IID_OBJPTR = 11;
constexpr std::uint32_t IID_OS = 12;
constexpr std::uint32_t kIidLock = 17;
constexpr std::uint32_t kIidToken = 99;
constexpr std::uint32_t kIidString = 100;

// Plug-in identifiers.
constexpr std::uint32_t kPidKernel = 1;
constexpr std::uint32_t kPidWfsys = 3;
constexpr std::uint32_t kPidPlatform = 5;
constexpr std::uint32_t kPidTextConversion = 38;
constexpr std::uint32_t kPidDirectRead = 0xBF83;

// Exports of other components (function identifiers).
constexpr std::uint32_t kFidTraceFormatter = 0x5EC5256C;   ///< plug-in 1
constexpr std::uint32_t kFidTextConvert = 0x0A02700B;      ///< plug-in 38
constexpr std::uint32_t kFidDateTimeCreate = 0x150920E3;   ///< plug-in 1
constexpr std::uint32_t kFidDateTimeCalendar = 0x0E262B4F; ///< plug-in 1
constexpr std::uint32_t kFidPlatformQuery = 0x78FB55F6;    ///< plug-in 5
/// The platform query's answer for a Windows NT platform.
constexpr std::uint32_t kPlatformWindowsNt = 3;
/// Mode passed to the export lookup.
constexpr std::uint32_t kLookupMode = 2;

// Direct-read driver (plug-in 0xBF83).
constexpr std::uint32_t kFidFSDirectRead = 0x8EAE006E;
constexpr std::uint32_t kFidFSDirectOpen = 0x8EAE006F;
constexpr std::uint32_t kFidFSDirectClose = 0x8EAE007F;
constexpr std::uint32_t kFidFSDirectGetFileSize = 0x8EAE0080;
constexpr std::uint32_t kFidFSDirectGetFileInfo = 0x8EAE0082;
/// The driver's records that are bound but not called.
constexpr std::uint32_t kFidDirectUnused[] = {0xBFE7A919, 0xB47E23E2, 0x4D68A298, 0x30B16322,
                                              0x8EAE0081, 0x8EAE0083, 0x8EAE0084};

// Code-page values declared for texts.
constexpr std::int32_t kCodePageUtf16 = 1200;
constexpr std::int32_t kCodePageSystem = -12; // 8-bit text in the system's code page

// Date-time values: 10-ns units since 1 January of year 1.
constexpr std::uint64_t kDateTimeFileTimeBias = 0x46120CE758A60000ull;
constexpr std::uint64_t DateTimeFromFileTime(std::uint64_t ft) {
    return ft * 10 + kDateTimeFileTimeBias;
}
constexpr std::uint64_t FileTimeFromDateTime(std::uint64_t dt) {
    return (dt - kDateTimeFileTimeBias) / 10;
}

// Trace levels: lower is more important.
constexpr std::uint32_t kTraceRegistration = 200;
constexpr std::uint32_t kTraceError = 300;
constexpr std::uint32_t kTraceWarning = 350;
constexpr std::uint32_t kTraceInfo = 400;
constexpr std::uint32_t kTraceProgress = 500;
constexpr std::uint32_t kTraceDetail = 600;
constexpr std::uint32_t kTraceVerbose = 700;
constexpr std::uint32_t kTraceAll = 900;

} // namespace zev::frame
