// Path forms: recognising, prefixing and converting drive, network,
// long-path ("\\?\", "\\?\UNC\") and native ("\??\") names, reading a text
// property from any framework object, and the universal form of a path on
// a network or substituted drive. Lengths are in bytes unless said
// otherwise; texts follow the plug-in's character mode.
#pragma once

#include "plugin/frame/FrameworkApi.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace zev::wfsys {

inline constexpr wchar_t kLongPrefix[] = L"\\\\?\\";
inline constexpr wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";
inline constexpr wchar_t kNativePrefix[] = L"\\??\\";
inline constexpr std::size_t kLongPrefixChars = 4;
inline constexpr std::size_t kLongUncPrefixChars = 8;
inline constexpr std::size_t kNativePrefixChars = 4;
/// Characters in the fixed 520-byte name buffers of the helpers.
inline constexpr std::size_t kNameBufferBytes = 520;

/// The long-path prefix to put in front of `text` (`bytes` long), or null;
/// `*skip` receives the characters of `text` to leave out behind it and
/// `*prefixBytes` the prefix's length.
const wchar_t* LongPathPrefix(const wchar_t* text, std::size_t bytes, std::size_t* skip,
                              std::size_t* prefixBytes);
/// Bytes a reader needs for the stored name whose full name is at `full`:
/// `bytes` + 2, or + 6 when the stored text is a "\\?\UNC\" form whose full
/// name starts at least 16 bytes in (then `*addSlashes` is 1: write "\\" first).
std::size_t IsUncLongForm(const void* start, const void* full, std::size_t bytes, int* addSlashes);
/// 1 for a relative path (no root and no drive letter).
int IsRelativePath(const void* text, std::size_t bytes);
/// 0 when `text` names an existing folder, else a framework code; the
/// Windows error of a failed search goes to `*winError` when given.
frame::Result IsExistingFolder(const void* text, std::uint32_t* winError = nullptr);
/// True when both paths name the same drive letter and the first is not a
/// network path.
bool IsSameDrive(const wchar_t* path1, const wchar_t* path2);
/// Position (characters from `text`) of the separator that ends the share
/// part of a network path, the end of the text when none follows, or -1.
std::ptrdiff_t ShareRootEnd(const wchar_t* text, std::size_t bytes, int flag);
std::ptrdiff_t ShareRootEndNarrow(const char* text, std::size_t bytes, int flag);
/// Bytes `text` takes with its terminator, stopping at `limit`; 0 for no
/// text or an empty one.
std::size_t BoundedTextLength(const void* text, std::size_t limit);

/// Reads text property `propId` (0 or on a string object: the full name)
/// of `obj` in the plug-in's code page into `*buffer` (`size` bytes). When
/// it is too small, a block of the framework heap replaces `*buffer`: the
/// caller frees it when it differs from its own buffer.
frame::Result ReadTextProperty(frame::hOBJ obj, void** buffer, std::uint32_t size,
                               std::uint32_t propId, std::uint32_t* count,
                               std::uint32_t* interfaceId);

/// The full path of the IO object's stored name in a new framework-heap
/// block (`*capacity` bytes) whose full-name position keeps the stored
/// prefix's offset; `*unchanged` tells whether the text is the same.
frame::Result GetFullLongName(frame::hOBJ io, int* unchanged, void** buffer,
                              std::uint32_t* capacity, void** fullName);

/// For a substituted drive of the IO object's full name: its target in
/// `buffer` (260 characters), lower-cased, without "\??\" unless
/// `keepDevice`; `*offset` = target bytes less the 4 the drive took.
/// Returns the target's length in bytes, 0 when the drive is not substituted.
std::size_t SubstTarget(frame::hOBJ io, void* buffer, std::size_t* offset, int keepDevice);

/// Export 0xF97328FD: gives a string object's drive path the long-path prefix.
frame::Result PrefixStringObject(frame::hOBJ stringObject);
/// Export 0xC5BEB83C: the universal form of `path` on a network or
/// substituted drive into `buffer` (`*size` characters).
frame::Result UniversalName(const wchar_t* path, wchar_t* buffer, std::uint32_t* size);

/// The drive mapping cache: created empty at load, freed at unload.
void InitDriveMap();
void FreeDriveMap();
/// For tests: forgets what the cache learnt.
void ResetDriveMap();
/// Replaceable network lookup (WNetGetUniversalNameW's signature).
using UniversalNameQuery = DWORD(WINAPI*)(LPCWSTR, DWORD, LPVOID, LPDWORD);
extern UniversalNameQuery g_universalNameQuery;

} // namespace zev::wfsys
