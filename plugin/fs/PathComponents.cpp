#include "plugin/fs/PathComponents.h"

#include "plugin/frame/SystemFunctions.h"
#include "plugin/fs/PathForms.h"
#include "plugin/fs/WinErrorMap.h"

#include <cstring>
#include <cwctype>
#include <string>

namespace zev::wfsys {

using namespace zev::frame;

namespace {

constexpr std::size_t kMaxPrefixChars = 520;
constexpr std::uint32_t kGrowChars = 260;
constexpr std::uint32_t kStartChars = 520;

/// Characters of `full` that make its root (with any long-path prefix and
/// the separator that follows the drive or share), or 0 for another form.
std::size_t RootLength(const std::wstring& full, bool* drive) {
    *drive = false;
    std::size_t skip = 0;
    std::size_t prefixBytes = 0;
    std::size_t start = 0;
    const wchar_t* prefix =
        LongPathPrefix(full.c_str(), full.size() * sizeof(wchar_t), &skip, &prefixBytes);
    if (prefix && skip)
        start = skip;
    const std::wstring rest = full.substr(start);
    if (rest.size() >= 3 && std::iswalpha(rest[0]) && rest[1] == L':' && rest[2] == L'\\') {
        *drive = true;
        return start + 3;
    }
    const bool uncLong = skip == kLongUncPrefixChars;
    if (uncLong || (rest.size() > 2 && rest[0] == L'\\' && rest[1] == L'\\')) {
        const std::ptrdiff_t end =
            ShareRootEnd(rest.c_str(), rest.size() * sizeof(wchar_t), uncLong ? 1 : 0);
        if (end < 0 || static_cast<std::size_t>(end) >= rest.size())
            return 0;
        return start + static_cast<std::size_t>(end) + 1;
    }
    return 0;
}

/// The next component of `full` from `at`, without its separator.
std::wstring NextComponent(const std::wstring& full, std::size_t* at) {
    const std::size_t end = full.find(L'\\', *at);
    std::wstring part =
        full.substr(*at, end == std::wstring::npos ? std::wstring::npos : end - *at);
    *at = end == std::wstring::npos ? full.size() : end + 1;
    return part;
}

} // namespace

Result ShortPathByComponents(const wchar_t* full, wchar_t* out, std::uint32_t* winError) {
    if (!g_kernel.fGetShortPathName)
        return errNOT_SUPPORTED;
    auto toShort = Fn<decltype(&::GetShortPathNameW)>(g_kernel.fGetShortPathName);
    const std::wstring path = full ? full : L"";
    bool drive = false;
    const std::size_t root = RootLength(path, &drive);
    if (root == 0)
        return errPARAMETER_INVALID;
    std::wstring prefix = path.substr(0, root);
    std::size_t at = root;
    while (true) {
        prefix += NextComponent(path, &at);
        if (toShort(prefix.c_str(), out, kComponentBufferChars) == 0)
            return MapLastError(winError);
        if (at >= path.size())
            return errOK;
        prefix = out;
        if (prefix.empty() || prefix.back() != L'\\')
            prefix += L'\\';
        if (prefix.size() + (path.find(L'\\', at) == std::wstring::npos
                                 ? path.size() - at
                                 : path.find(L'\\', at) - at) >
            kMaxPrefixChars)
            return errBUFFER_TOO_SMALL;
    }
}

Result LongPathByComponents(hOBJ heapOwner, const wchar_t* full, wchar_t** buffer,
                            std::uint32_t* size, std::uint32_t* length, std::uint32_t* winError) {
    std::uint32_t ignored = 0;
    std::uint32_t* error = winError ? winError : &ignored;
    *error = 0;
    const std::wstring path = full ? full : L"";
    bool drive = false;
    const std::size_t root = RootLength(path, &drive);
    if (root == 0)
        return errPARAMETER_INVALID;
    auto toLong = Fn<decltype(&::GetLongPathNameW)>(g_kernel.fGetLongPathName);
    std::wstring converted = path.substr(0, root);
    std::size_t at = root;
    while (at < path.size()) {
        const std::wstring candidate = converted + NextComponent(path, &at);
        const bool whole = at >= path.size();
        if (whole && toLong) {
            std::wstring out(candidate.size() + kStartChars, L'\0');
            DWORD n = toLong(candidate.c_str(), out.data(), static_cast<DWORD>(out.size()));
            if (n >= out.size()) {
                out.resize(n + 1);
                n = toLong(candidate.c_str(), out.data(), static_cast<DWORD>(out.size()));
            }
            if (n == 0) {
                *error = ::GetLastError();
                return MapWin32Error(*error);
            }
            out.resize(n);
            converted = out;
            break;
        }
        WIN32_FIND_DATAW found{};
        HANDLE find = ::FindFirstFileW(candidate.c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) {
            *error = ::GetLastError();
            return MapWin32Error(*error);
        }
        ::FindClose(find);
        converted += found.cFileName;
        if (!whole)
            converted += L'\\';
    }
    if (drive) {
        const std::size_t letter = converted.find(L':');
        if (letter != std::wstring::npos && letter > 0)
            converted[letter - 1] = static_cast<wchar_t>(std::towupper(converted[letter - 1]));
    }
    const auto chars = static_cast<std::uint32_t>(converted.size() + 1);
    if (chars * sizeof(wchar_t) > *size) {
        std::uint32_t grown = *size / sizeof(wchar_t);
        if (grown < kStartChars)
            grown = kStartChars;
        while (grown < chars)
            grown += kGrowChars;
        void* block = nullptr;
        if (!heapOwner ||
            Failed(heapOwner->sys->ObjHeapAlloc(heapOwner, &block, grown * sizeof(wchar_t))))
            return errNOT_ENOUGH_MEMORY;
        *buffer = static_cast<wchar_t*>(block);
        *size = grown * sizeof(wchar_t);
    }
    std::wmemcpy(*buffer, converted.c_str(), chars);
    *length = chars;
    return errOK;
}

} // namespace zev::wfsys
