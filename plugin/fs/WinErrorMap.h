// Windows error codes as framework result codes: the one mapping every
// object and helper of the plug-in reports its Windows failures through.
#pragma once

#include "plugin/frame/ResultCodes.h"

#include <windows.h>

#include <cstdint>

namespace zev::wfsys {

/// One row of the mapping: a Windows error and the framework code it gives.
struct WinErrorRow {
    DWORD error;
    frame::Result code;
};

/// The rows; an error that is not listed maps to kUnmappedWinError.
inline constexpr WinErrorRow kWinErrorMap[] = {
    {ERROR_SUCCESS, frame::errOK},
    {ERROR_FILE_NOT_FOUND, frame::errOBJECT_NOT_FOUND},
    {ERROR_PATH_NOT_FOUND, frame::errOBJECT_NOT_FOUND},
    {ERROR_BAD_NETPATH, frame::errOBJECT_NOT_FOUND},
    {ERROR_ACCESS_DENIED, frame::errACCESS_DENIED},
    {ERROR_NETWORK_ACCESS_DENIED, frame::errACCESS_DENIED},
    {ERROR_LOGON_FAILURE, frame::errACCESS_DENIED},
    {ERROR_NO_MORE_FILES, frame::errEND_OF_THE_LIST},
    {ERROR_WRITE_PROTECT, frame::errWRITE_PROTECT},
    {ERROR_NOT_READY, frame::errNOT_READY},
    {ERROR_SHARING_VIOLATION, frame::errLOCKED},
    {ERROR_LOCK_VIOLATION, frame::errLOCKED},
    {ERROR_DRIVE_LOCKED, frame::errLOCKED},
    {ERROR_FILE_EXISTS, frame::errOBJECT_ALREADY_EXISTS},
    {ERROR_ALREADY_EXISTS, frame::errOBJECT_ALREADY_EXISTS},
    {ERROR_DISK_FULL, frame::errOUT_OF_SPACE},
    {ERROR_INVALID_NAME, frame::errPARAMETER_INVALID},
};
inline constexpr frame::Result kUnmappedWinError = frame::errUNEXPECTED;

/// The framework code for a Windows error code.
constexpr frame::Result MapWin32Error(DWORD error) {
    for (const WinErrorRow& row : kWinErrorMap)
        if (row.error == error)
            return row.code;
    return kUnmappedWinError;
}

/// Records the thread's last error in `*winError` and maps it.
inline frame::Result MapLastError(std::uint32_t* winError = nullptr) {
    const DWORD error = ::GetLastError();
    if (winError)
        *winError = error;
    return MapWin32Error(error);
}

} // namespace zev::wfsys
