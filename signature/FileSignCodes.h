// Result codes of FileSignChecker (signed 32-bit; negative is failure) and
// the Windows errors they stand for.
#pragma once

#include <cstdint>

namespace hotfixer {

inline constexpr int32_t kSignOk = 0;
inline constexpr int32_t kSignCheckFailed = int32_t(0x8000005A);
inline constexpr int32_t kSignAddImageFailed = int32_t(0x80000040);

struct WinErrorCode {
    uint32_t error;
    int32_t code;
};

/// Windows error -> result code of LoadFile; any other error gives
/// kSignUnknownError.
inline constexpr WinErrorCode kWinErrorCodes[] = {
    {0, 0},
    {1, int32_t(0x80000042)},
    {50, int32_t(0x80000042)},
    {2, int32_t(0x80010102)},
    {3, int32_t(0x80010103)},
    {5, int32_t(0x80000045)},
    {6, int32_t(0x80010101)},
    {8, int32_t(0x80000041)},
    {24, int32_t(0x8000005C)},
    {31, int32_t(0x8000004B)},
    {32, int32_t(0x80010104)},
    {33, int32_t(0x80010104)},
    {80, int32_t(0x80010105)},
    {183, int32_t(0x80010105)},
    {87, int32_t(0x80000046)},
    {160, int32_t(0x80000046)},
    {112, int32_t(0x80000062)},
    {122, int32_t(0x80000044)},
    {234, int32_t(0x80000044)},
    {123, int32_t(0x80010109)},
    {127, int32_t(0x80010107)},
    {1168, int32_t(0x8000004C)},
    {1347, int32_t(0x80010110)},
    {1413, int32_t(0x8000005E)},
    {1450, int32_t(0x8000006C)},
    {1460, int32_t(0x80000221)},
    {14001, int32_t(0x80010108)},
};
inline constexpr int32_t kSignUnknownError = int32_t(0x80010100);
/// The code of ERROR_FILE_NOT_FOUND, which triggers the retry without
/// WOW64 redirection.
inline constexpr int32_t kSignFileNotFound = int32_t(0x80010102);

} // namespace hotfixer
