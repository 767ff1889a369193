// The IO object's data record (280 bytes after the framework's header) and
// the operations of the IO object that its files share.
#pragma once

#include "plugin/frame/FrameworkApi.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace zev::wfsys {

/// Properties of the IO interface that only it serves.
namespace ioprop {
constexpr std::uint32_t kUserWord = 0x21600048;
constexpr std::uint32_t kFullNameAlias = 0x20900060;
constexpr std::uint32_t kMaxNameConst = 0x20400052;
constexpr std::uint32_t kZeroConst = 0x20201004;
constexpr std::uint32_t kNotLocked = 0x30602002;
constexpr std::uint32_t kRestoreOnClose = 0x30602003;
constexpr std::uint32_t kMayClearAttributes = 0x30602004;
constexpr std::uint32_t kClampReads = 0x30602005;
constexpr std::uint32_t kPreprocessNames = 0x30602006;
constexpr std::uint32_t kNotFixedDisk = 0x30402007;
constexpr std::uint32_t kDeviceForm = 0x30902008;
constexpr std::uint32_t kReparseName = 0x30602009;
constexpr std::uint32_t kStoredA = 0x3060200A;
constexpr std::uint32_t kShortFullName = 0x3090200B;
constexpr std::uint32_t kShortFileName = 0x3090200C;
constexpr std::uint32_t kLongFullName = 0x3090200D;
constexpr std::uint32_t kLongFileName = 0x3090200E;
constexpr std::uint32_t kStoredB = 0x3060200F;
constexpr std::uint32_t kStoredC = 0x30602010;
constexpr std::uint32_t kReopenByShortName = 0x30602011;
constexpr std::uint32_t kSecurity = 0x33002012;
constexpr std::uint32_t kAsyncRead = 0x30C02014;
constexpr std::uint32_t kSavedAttributes = 0x30C02015;
constexpr std::uint32_t kDriveType = 0x30402016;
constexpr std::uint32_t kDirectHandle = 0x30C02017;
constexpr std::uint32_t kNativeOpen = 0x30602018;
constexpr std::uint32_t kVolumeSerial = 0x30402019;
} // namespace ioprop

/// Handle, inactive flag and two times; each open zeroes it, inactive.
struct TimesRecord {
    std::uint64_t handle;
    std::uint32_t inactive;
    std::uint32_t spare;
    std::uint64_t times[2];
};
static_assert(sizeof(TimesRecord) == 32);

/// The asynchronous reader block (48 bytes of the framework heap).
struct OverlappedReader {
    OVERLAPPED overlapped;
    volatile LONG inUse;
    std::uint32_t spare;
    HANDLE* handle;
};
static_assert(sizeof(OverlappedReader) == 48);

struct Win32IOData {
    void* name_buffer;
    std::uint32_t name_capacity;
    std::uint32_t spare0;
    void* full_name;
    void* file_name;
    HANDLE handle;
    std::uint64_t direct_handle;
    std::uint64_t position;
    std::uint32_t open_mode;
    std::uint32_t access_mode;
    std::uint64_t size;
    std::uint32_t saved_attributes;
    std::uint32_t delete_on_close;
    frame::hOBJ os_object;
    std::uint32_t win_error;
    std::uint32_t user_word;
    std::uint32_t restore_attributes;
    std::uint32_t restore_on_close;
    std::uint32_t stored_a;
    std::uint32_t stored_b;
    std::uint32_t stored_c;
    std::uint32_t may_clear_attributes;
    std::uint32_t clamp_reads;
    std::uint32_t preprocess_names;
    std::uint32_t reparse_name;
    std::uint8_t written;
    std::uint8_t spare1[3];
    std::uint32_t reopen_by_short_name;
    std::uint32_t spare2;
    std::uint32_t native_open;
    std::uint32_t spare3;
    std::uint64_t file_index;
    std::uint32_t volume_serial;
    std::uint32_t reopening;
    std::uint32_t forced_read;
    BY_HANDLE_FILE_INFORMATION file_information;
    void* saved_security;
    OverlappedReader* overlapped_reader;
    TimesRecord times_record;
    frame::hOBJ lock_object;
};
static_assert(sizeof(Win32IOData) == 280);
static_assert(offsetof(Win32IOData, handle) == 32);
static_assert(offsetof(Win32IOData, open_mode) == 56);
static_assert(offsetof(Win32IOData, win_error) == 88);
static_assert(offsetof(Win32IOData, written) == 132);
static_assert(offsetof(Win32IOData, native_open) == 144);
static_assert(offsetof(Win32IOData, file_information) == 172);
static_assert(offsetof(Win32IOData, saved_security) == 224);
static_assert(offsetof(Win32IOData, lock_object) == 272);

inline Win32IOData* Io(frame::hOBJ obj) {
    return frame::DataOf<Win32IOData>(obj);
}

// ---- heap of the object ------------------------------------------------------
frame::Result HeapAlloc(frame::hOBJ obj, void** out, std::size_t size);
frame::Result HeapRealloc(frame::hOBJ obj, void** out, void* old, std::size_t size);
void HeapFree(frame::hOBJ obj, void* block);

// ---- names (IoNames.cpp) -------------------------------------------------------
/// Bytes of one character of the stored name in the current mode.
std::size_t CharSize();
/// True when the object has a stored name.
bool HasName(const Win32IOData* d);
/// The stored name from `name_buffer` (prefix included) as UTF-16; the
/// stored text itself in wide mode.
const wchar_t* StoredWide(const Win32IOData* d);
/// Property handlers of the three names.
frame::Result GetNameProperty(frame::hOBJ obj, std::uint32_t* count, std::uint32_t id, void* buffer,
                              std::uint32_t size);
frame::Result SetNameWide(frame::hOBJ obj, std::uint32_t* count, std::uint32_t id,
                          const void* buffer, std::uint32_t size);
frame::Result SetNameNarrow(frame::hOBJ obj, std::uint32_t* count, std::uint32_t id,
                            const void* buffer, std::uint32_t size);
/// Collapses runs of separators from the second character of the full name.
void NormaliseName(Win32IOData* d);
/// Points `file_name` behind the last separator of the full name.
void LocateFileName(Win32IOData* d);

// ---- open (IoOpen.cpp) -------------------------------------------------------
frame::Result ObjectInitDone(frame::hOBJ obj);
/// CreateFile replacement on NtCreateFile (wide mode).
HANDLE NativeOpen(const wchar_t* name, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                  DWORD creation, DWORD flags, HANDLE templateFile);
/// Opens `name` the way the object is configured to (native or CreateFile).
HANDLE OpenByMode(const Win32IOData* d, const void* name, DWORD access, DWORD share, DWORD creation,
                  DWORD flags);
/// Closes the reader's event and gives its block back.
void DropOverlappedReader(frame::hOBJ obj);

// ---- data (IoData.cpp) -------------------------------------------------------
frame::Result ReadAt(frame::hOBJ obj, std::uint32_t* read, std::uint64_t offset, void* buffer,
                     std::uint32_t count);
frame::Result WriteAt(frame::hOBJ obj, std::uint32_t* written, std::uint64_t offset,
                      const void* buffer, std::uint32_t count);
frame::Result QuerySize(frame::hOBJ obj, std::uint64_t* size, std::uint32_t kind);
frame::Result Resize(frame::hOBJ obj, std::uint64_t newSize);
frame::Result FlushBuffers(frame::hOBJ obj);
/// Bytes written by all IO objects of the process (wraps at 2^32).
extern std::uint32_t g_bytesWritten;
/// Export 0xD986CF4C.
frame::Result TotalBytesWritten(std::uint32_t* out);

/// Property handlers served by IoData.cpp.
frame::Result GetAttributes(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
frame::Result SetAttributes(frame::hOBJ, std::uint32_t*, std::uint32_t, const void*, std::uint32_t);
frame::Result GetTime(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
frame::Result SetTime(frame::hOBJ, std::uint32_t*, std::uint32_t, const void*, std::uint32_t);
frame::Result GetSecurity(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
frame::Result SetSecurity(frame::hOBJ, std::uint32_t*, std::uint32_t, const void*, std::uint32_t);
frame::Result GetSavedAttributes(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
frame::Result StartAsyncRead(frame::hOBJ, std::uint32_t*, std::uint32_t, const void*,
                             std::uint32_t);

// ---- object (IoObject.cpp) ---------------------------------------------------
frame::Result ObjectConstruct(frame::hOBJ obj, std::uint32_t flag);
frame::Result ObjectInit(frame::hOBJ obj);
frame::Result ObjectClose(frame::hOBJ obj);
frame::Result SetAccessMode(frame::hOBJ, std::uint32_t*, std::uint32_t, const void*, std::uint32_t);
frame::Result GetNativeOpen(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
frame::Result SetNativeOpen(frame::hOBJ, std::uint32_t*, std::uint32_t, const void*, std::uint32_t);
frame::Result GetNotLocked(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
/// The IO method table (ReadAt, WriteAt, QuerySize, Resize, FlushBuffers).
const frame::AnyFn* IoMethodTable();

// ---- name forms (IoNameForms.cpp) ---------------------------------------------
frame::Result GetShortFullName(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
frame::Result GetShortFileName(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
frame::Result GetLongFullName(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
frame::Result GetLongFileName(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
frame::Result GetDeviceForm(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
frame::Result GetDriveTypeProp(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
frame::Result GetNotFixedDisk(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);

} // namespace zev::wfsys
