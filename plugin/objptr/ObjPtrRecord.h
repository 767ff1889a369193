// The ObjPtr object: a cursor over the entries of one folder. Its data
// record, and the operations its files share (enumeration in
// ObjPtrEnum.cpp, navigation in ObjPtrNavigation.cpp, operations on the
// current entry in ObjPtrEntry.cpp). Texts are UTF-16 (the wide mode).
#pragma once

#include "plugin/frame/FrameworkApi.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace zev::wfsys {

/// Cursor states (property 0x20401002).
enum ObjPtrState : std::uint32_t { kStateUnd = 0, kStateBef = 1, kStatePtr = 2, kStateAft = 3 };
/// Which read the next advance runs.
enum FetchStep : std::uint32_t {
    kFetchFirst = 0,
    kFetchContinue = 1,
    kFetchReplay = 2, ///< the folder pass hands out the folders the file pass met
};

/// The folders met by a file pass whose listing the folder pass would read
/// again with the same pattern: the folder pass replays them instead of
/// listing the whole folder a second time. A framework-heap block.
struct FolderReplay {
    std::uint32_t recording; ///< 1 while the running file pass records
    std::uint32_t count;
    std::uint32_t capacity;
    std::uint32_t position; ///< next entry the folder pass hands out
    struct Entry {
        std::uint32_t index; ///< entry_index of the folder in the listing
        std::uint32_t spare;
        std::uint64_t fileId;
        WIN32_FIND_DATAW data;
    } entries[1];
};

/// Property ids of the ObjPtr interface that are its own.
namespace objprop {
constexpr std::uint32_t kUserWord = 0x21600048;
constexpr std::uint32_t kMaxNameConst = 0x20400052;
constexpr std::uint32_t kIsFolder = 0x20601000;
constexpr std::uint32_t kMask = 0x20901001;
constexpr std::uint32_t kState = 0x20401002;
constexpr std::uint32_t kSize32 = 0x20400045;
constexpr std::uint32_t kSize64 = 0x20500045;
constexpr std::uint32_t kRefusedA = 0x20500055;
constexpr std::uint32_t kCodePageAlias = 0x31B02001;
constexpr std::uint32_t kMaskFolders = 0x30602002;
constexpr std::uint32_t kShortFullName = 0x3090200B;
constexpr std::uint32_t kShortName = 0x3090200C;
constexpr std::uint32_t kLongFullName = 0x3090200D;
constexpr std::uint32_t kNameAlias = 0x3090200E;
constexpr std::uint32_t kZeroConst = 0x20601008;
constexpr std::uint32_t kNativeEnum = 0x30603001;
constexpr std::uint32_t kFileId = 0x30503002;
constexpr std::uint32_t kVolumeId = 0x30403003;
} // namespace objprop

constexpr std::uint32_t kMaskInlineBytes = 32;
/// `mask_capacity` after ObjectClose.
constexpr std::uint32_t kMaskCapacityAfterClose = 30;
/// Fixed local text buffers.
constexpr std::uint32_t kLocalTextBytes = 260;
/// Longest mask or ChangeTo name (bytes).
constexpr std::uint32_t kMaxMaskBytes = 520;
/// Longest joined folder (bytes, terminator included).
constexpr std::uint32_t kMaxJoinedFolderBytes = 0xFFFE;
/// Longest pattern (bytes, terminator included) and StepDown folder.
constexpr std::uint32_t kMaxPatternBytes = 0xFFFF;
constexpr std::uint32_t kMaxStepDownBytes = 0x7FFF;
/// `native_enum` value that selects the native reader.
constexpr std::uint32_t kNativeEnumOn = 1;

struct ObjPtrData {
    wchar_t mask_inline[kMaskInlineBytes / sizeof(wchar_t)];
    std::uint32_t mask_capacity;
    wchar_t* mask;
    std::uint32_t mask_folders;
    std::uint32_t mask_folders_active;
    wchar_t* folder_buffer;
    std::uint32_t folder_capacity;
    wchar_t* folder;
    std::uint32_t name_length;
    HANDLE find_context;
    union {
        WIN32_FIND_DATAW find_data;
        WIN32_FIND_DATAA find_data_a;
    };
    std::uint32_t state;
    std::uint32_t entry_index;
    frame::hOBJ os_object;
    std::uint32_t win_error;
    std::uint32_t user_word;
    std::uint32_t pass;
    std::uint32_t dot_seen;
    std::uint64_t fetch;
    HANDLE object_handle;
    std::uint64_t file_index;
    std::uint64_t file_id;
    std::uint32_t volume_id;
    std::uint32_t native_enum;
    wchar_t* used_mask;
    std::uint32_t used_mask_capacity;
    FolderReplay* replay;
};
static_assert(sizeof(ObjPtrData) <= 784, "the registered data size");

inline ObjPtrData* Ptr(frame::hOBJ obj) {
    return frame::DataOf<ObjPtrData>(obj);
}

// ---- enumeration (ObjPtrEnum.cpp) ---------------------------------------------
frame::Result ObjPtrInit(frame::hOBJ obj);
frame::Result ObjPtrInitDone(frame::hOBJ obj);
frame::Result ObjPtrClose(frame::hOBJ obj);
frame::Result Reset(frame::hOBJ obj, std::uint32_t root);
frame::Result Next(frame::hOBJ obj);
/// Writes the operation log line (see LogOperation in ObjPtrEnum.cpp).
void LogOperation(frame::hOBJ obj, frame::Result result, std::uint32_t level, const char* name);
/// Stores a folder (`bytes` bounds the text); `*stored` receives the stored length.
frame::Result SetFolder(frame::hOBJ obj, const wchar_t* text, std::size_t bytes,
                        std::size_t* stored = nullptr);
/// A path relative to the current folder.
frame::Result JoinFolder(frame::hOBJ obj, const wchar_t* text, std::size_t bytes);
frame::Result SetMask(frame::hOBJ obj, const wchar_t* text, std::size_t bytes);
/// After Windows error 5: runs `call` (true on success) again under the
/// framework's elevated token, then without the thread's token; true when
/// one of the retries succeeded.
bool RetryWithIdentity(frame::hOBJ obj, const std::function<bool()>& call);
frame::Result MapFindError(DWORD error);
/// The folder as the path property reports it ("\\server\..." for a
/// network folder), and the current entry's name (empty off an entry).
std::wstring FolderText(const ObjPtrData* d);
const wchar_t* EntryName(const ObjPtrData* d);
/// The whole folder buffer (long-path prefix included) and the entry name.
std::wstring EntryPath(const ObjPtrData* d, bool shortName = false);
/// Copies a text with its terminator to a getter's buffer.
frame::Result CopyTextOut(const std::wstring& text, std::uint32_t* count, void* buffer,
                          std::uint32_t size);
/// Sets the folder part and the name part of `path` (split at its last
/// separator or ":"); `*name` points into `path`.
frame::Result SplitIntoFolder(frame::hOBJ obj, const wchar_t* path, const wchar_t** name);
/// Getters and setters of the property table.
frame::Result GetEntryName(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
frame::Result GetFolderProp(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
frame::Result SetFolderProp(frame::hOBJ, std::uint32_t*, std::uint32_t, const void*, std::uint32_t);
frame::Result GetFullNameProp(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
frame::Result GetIsFolder(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
frame::Result SetMaskProp(frame::hOBJ, std::uint32_t*, std::uint32_t, const void*, std::uint32_t);
frame::Result GetNativeEnum(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
frame::Result SetNativeEnum(frame::hOBJ, std::uint32_t*, std::uint32_t, const void*, std::uint32_t);
frame::Result RefuseProperty(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
frame::Result RefusePropertySet(frame::hOBJ, std::uint32_t*, std::uint32_t, const void*,
                                std::uint32_t);

// ---- navigation (ObjPtrNavigation.cpp) ------------------------------------------
/// The full name (0x20900041) of any object, read on behalf of `owner`.
frame::Result ReadObjectFullName(frame::hOBJ owner, frame::hOBJ obj, std::wstring* out);
frame::Result StepUp(frame::hOBJ obj);
frame::Result StepDown(frame::hOBJ obj);
frame::Result OP_ChangeTo(frame::hOBJ obj, const wchar_t* name);
frame::Result ChangeTo(frame::hOBJ obj, frame::hOBJ target);
frame::Result Clone(frame::hOBJ obj, frame::hOBJ* out);

// ---- the current entry (ObjPtrEntry.cpp) ----------------------------------------
frame::Result IOCreate(frame::hOBJ obj, frame::hOBJ* out, frame::hOBJ nameObject,
                       std::uint32_t access, std::uint32_t openMode);
frame::Result Copy(frame::hOBJ obj, frame::hOBJ destination, std::uint32_t overwrite);
frame::Result Rename(frame::hOBJ obj, frame::hOBJ destination, std::uint32_t replace);
frame::Result Delete(frame::hOBJ obj);
frame::Result GetSize(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
frame::Result SetSize(frame::hOBJ, std::uint32_t*, std::uint32_t, const void*, std::uint32_t);
frame::Result GetEntryAttributes(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
frame::Result SetEntryAttributes(frame::hOBJ, std::uint32_t*, std::uint32_t, const void*,
                                 std::uint32_t);
frame::Result GetEntryTime(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
frame::Result SetEntryTime(frame::hOBJ, std::uint32_t*, std::uint32_t, const void*, std::uint32_t);
frame::Result GetShortName(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
frame::Result GetShortFullNameProp(frame::hOBJ, std::uint32_t*, std::uint32_t, void*,
                                   std::uint32_t);
frame::Result GetLongFullNameProp(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
frame::Result GetFolderHandle(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
frame::Result GetFolderFileIndex(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
frame::Result GetEntryFileId(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);
frame::Result GetVolumeId(frame::hOBJ, std::uint32_t*, std::uint32_t, void*, std::uint32_t);

} // namespace zev::wfsys
