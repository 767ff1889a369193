// Name storage of IO objects: one framework-heap block holds an optional
// long-path prefix, the folder and the file name; the three name
// properties are views of it.
#include "plugin/io/IoRecord.h"

#include "plugin/frame/PropertyIds.h"
#include "plugin/frame/Settings.h"
#include "plugin/fs/PathForms.h"
#include "plugin/io/IoFlags.h"
#include "plugin/io/PropertyValue.h"

#include <cstring>
#include <string>

namespace zev::wfsys {

using namespace zev::frame;

namespace {

constexpr std::uint32_t kNarrowNameLimit = 260;
constexpr std::uint32_t kWideNameLimit = 0x7FFF;
constexpr std::uint32_t kWideFileOnlyLimit = 510;

template <typename C> bool IsSep(C c) {
    return c == C('\\') || c == C('/') || c == C(':');
}

template <typename C> std::size_t Length(const C* text) {
    std::size_t n = 0;
    while (text[n])
        ++n;
    return n;
}

template <typename C> const C* Buf(const Win32IOData* d) {
    return static_cast<const C*>(d->name_buffer);
}

/// The stored name split into its three parts.
template <typename C> struct Parts { std::basic_string<C> prefix, folder, file; };

template <typename C> Parts<C> CurrentParts(const Win32IOData* d) {
    Parts<C> p;
    if (!d->name_buffer)
        return p;
    const C* start = Buf<C>(d);
    const C* full = static_cast<const C*>(d->full_name);
    const C* file = static_cast<const C*>(d->file_name);
    p.prefix.assign(start, full);
    p.folder.assign(full, file);
    p.file.assign(file);
    return p;
}

/// Splits a text into a prefix (wide mode, unless stored without one) and the rest.
template <typename C>
void PrefixOf(const Win32IOData* d, const std::basic_string<C>& text, std::basic_string<C>& prefix,
              std::basic_string<C>& rest) {
    prefix.clear();
    rest = text;
    if constexpr (sizeof(C) == sizeof(wchar_t)) {
        if (d->open_mode & kOpenNoLongPrefix)
            return;
        std::size_t skip = 0;
        std::size_t prefixBytes = 0;
        const wchar_t* p =
            LongPathPrefix(text.c_str(), text.size() * sizeof(C), &skip, &prefixBytes);
        if (!p)
            return;
        prefix.assign(p, prefixBytes / sizeof(C));
        rest = text.substr(skip);
    }
}

template <typename C> Result Store(hOBJ obj, const Parts<C>& p) {
    Win32IOData* d = Io(obj);
    const std::size_t chars = p.prefix.size() + p.folder.size() + p.file.size() + 1;
    const std::size_t bytes = chars * sizeof(C);
    if (bytes > d->name_capacity || !d->name_buffer) {
        void* grown = d->name_buffer;
        if (Result r = HeapRealloc(obj, &grown, d->name_buffer, bytes); Failed(r))
            return r;
        d->name_buffer = grown;
        d->name_capacity = static_cast<std::uint32_t>(bytes);
    }
    C* out = static_cast<C*>(d->name_buffer);
    std::basic_string<C> whole = p.prefix + p.folder + p.file;
    std::memcpy(out, whole.c_str(), (whole.size() + 1) * sizeof(C));
    d->full_name = out + p.prefix.size();
    d->file_name = out + p.prefix.size() + p.folder.size();
    NormaliseName(d);
    return errOK;
}

template <typename C> std::size_t LastSep(const std::basic_string<C>& text) {
    for (std::size_t i = text.size(); i-- > 0;)
        if (IsSep(text[i]))
            return i;
    return std::basic_string<C>::npos;
}

template <typename C>
void SetFolderPart(const Win32IOData* d, Parts<C>& p, std::basic_string<C> folder) {
    if (folder.empty()) {
        p.prefix.clear();
        p.folder.clear();
        return;
    }
    if (!IsSep(folder.back()))
        folder.push_back(C('\\'));
    PrefixOf(d, folder, p.prefix, p.folder);
}

template <typename C>
Result SetName(hOBJ obj, std::uint32_t* count, std::uint32_t id, const void* buffer,
               std::uint32_t size) {
    Win32IOData* d = Io(obj);
    constexpr bool kWide = sizeof(C) == sizeof(wchar_t);
    const std::uint32_t limit = kWide ? kWideNameLimit : kNarrowNameLimit;
    if (!buffer) {
        *count = limit;
        return errOK;
    }
    if (kWide && (size % sizeof(C)) != 0)
        return errPARAMETER_INVALID;
    const C* src = static_cast<const C*>(buffer);
    std::size_t n = size ? size / sizeof(C) : Length(src);
    while (n > 0 && src[n - 1] == C(0))
        --n;
    std::basic_string<C> text(src, n);
    // A terminator inside the given length ends the text.
    text.resize(Length(text.c_str()));

    if (d->preprocess_names) {
        const C native[] = {C('\\'), C('?'), C('?'), C('\\')};
        if (text.size() >= 4 && std::equal(native, native + 4, text.begin()))
            text.erase(0, 4);
        if (text.find(C('%')) != std::basic_string<C>::npos) {
            std::basic_string<C> expanded;
            DWORD needed = 0;
            if constexpr (kWide)
                needed = ::ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
            else
                needed = ::ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
            if (needed == 0)
                return errUNEXPECTED;
            try {
                expanded.resize(needed);
            } catch (...) {
                return errNOT_ENOUGH_MEMORY;
            }
            DWORD got = 0;
            if constexpr (kWide)
                got = ::ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed);
            else
                got = ::ExpandEnvironmentStringsA(text.c_str(), expanded.data(), needed);
            if (got == 0 || got > needed)
                return errUNEXPECTED;
            expanded.resize(Length(expanded.c_str()));
            text = expanded;
        }
    }

    Parts<C> p = CurrentParts<C>(d);
    bool fileOnly = false;
    if (id == kPropFolder) {
        SetFolderPart(d, p, text);
    } else if (text.empty()) {
        p.file.clear();
        fileOnly = true;
    } else {
        const std::size_t sep = LastSep(text);
        if (sep == std::basic_string<C>::npos) {
            p.file = text;
            fileOnly = true;
        } else if (sep + 1 == text.size()) {
            SetFolderPart(d, p, text);
        } else {
            std::basic_string<C> rest;
            PrefixOf(d, text, p.prefix, rest);
            const std::size_t split = LastSep(rest);
            p.folder = rest.substr(0, split + 1);
            p.file = rest.substr(split + 1);
        }
    }
    const std::size_t whole = (p.prefix.size() + p.folder.size() + p.file.size() + 1) * sizeof(C);
    const std::size_t max = (kWide && fileOnly) ? kWideFileOnlyLimit : limit;
    if (whole > max)
        return errBUFFER_TOO_SMALL;
    if (Result r = Store(obj, p); Failed(r))
        return r;
    *count = size;
    return errOK;
}

template <typename C> void Normalise(Win32IOData* d) {
    C* full = static_cast<C*>(d->full_name);
    if (!full || !full[0])
        return;
    C* file = static_cast<C*>(d->file_name);
    std::size_t removedBeforeFile = 0;
    C* out = full + 1;
    bool lastSep = false; // the first character stays, so "\\\\server" keeps both
    for (C* in = full + 1; *in; ++in) {
        const bool sep = *in == C('\\') || *in == C('/');
        if (sep && lastSep) {
            if (in < file)
                ++removedBeforeFile;
            continue;
        }
        *out++ = sep ? C('\\') : *in;
        lastSep = sep;
    }
    *out = C(0);
    d->file_name = file - removedBeforeFile;
}

template <typename C> void Locate(Win32IOData* d) {
    C* full = static_cast<C*>(d->full_name);
    C* file = full;
    for (C* p = full; *p; ++p)
        if (IsSep(*p))
            file = p + 1;
    d->file_name = file;
}

/// Copies `parts` (concatenated) with a terminator to the caller.
template <typename C>
Result CopyText(std::uint32_t* count, void* buffer, std::uint32_t size,
                const std::basic_string<C>& text, bool countNeededOnShortage) {
    const Result r = CopyValue(text.c_str(), (text.size() + 1) * sizeof(C), count, buffer, size);
    if (r == errBUFFER_TOO_SMALL && !countNeededOnShortage)
        *count = 0;
    return r;
}

template <typename C>
Result GetName(hOBJ obj, std::uint32_t* count, std::uint32_t id, void* buffer, std::uint32_t size) {
    const Win32IOData* d = Io(obj);
    std::basic_string<C> text;
    if (d->name_buffer) {
        int slashes = 0;
        IsUncLongForm(d->name_buffer, d->full_name, 0, &slashes);
        const std::basic_string<C> lead =
            slashes ? std::basic_string<C>(2, C('\\')) : std::basic_string<C>();
        const C* full = static_cast<const C*>(d->full_name);
        const C* file = static_cast<const C*>(d->file_name);
        if (id == kPropName)
            text = file;
        else if (id == kPropFolder)
            text = file == full ? std::basic_string<C>() : lead + std::basic_string<C>(full, file);
        else
            text = lead + full;
    }
    const bool fullName = id != kPropName && id != kPropFolder;
    return CopyText(count, buffer, size, text, fullName);
}

} // namespace

Result HeapAlloc(hOBJ obj, void** out, std::size_t size) {
    return obj->sys->ObjHeapAlloc(obj, out, size);
}

Result HeapRealloc(hOBJ obj, void** out, void* old, std::size_t size) {
    return obj->sys->ObjHeapRealloc(obj, out, old, size);
}

void HeapFree(hOBJ obj, void* block) {
    if (block)
        obj->sys->ObjHeapFree(obj, block);
}

std::size_t CharSize() {
    return g_wideMode ? sizeof(wchar_t) : sizeof(char);
}

bool HasName(const Win32IOData* d) {
    if (!d->name_buffer)
        return false;
    if (g_wideMode)
        return static_cast<const wchar_t*>(d->name_buffer)[0] != L'\0';
    return static_cast<const char*>(d->full_name)[0] != '\0';
}

const wchar_t* StoredWide(const Win32IOData* d) {
    return static_cast<const wchar_t*>(d->name_buffer);
}

void NormaliseName(Win32IOData* d) {
    if (g_wideMode)
        Normalise<wchar_t>(d);
    else
        Normalise<char>(d);
}

void LocateFileName(Win32IOData* d) {
    if (g_wideMode)
        Locate<wchar_t>(d);
    else
        Locate<char>(d);
}

Result GetNameProperty(hOBJ obj, std::uint32_t* count, std::uint32_t id, void* buffer,
                       std::uint32_t size) {
    return g_wideMode ? GetName<wchar_t>(obj, count, id, buffer, size)
                      : GetName<char>(obj, count, id, buffer, size);
}

Result SetNameWide(hOBJ obj, std::uint32_t* count, std::uint32_t id, const void* buffer,
                   std::uint32_t size) {
    *count = 0;
    return SetName<wchar_t>(obj, count, id, buffer, size);
}

Result SetNameNarrow(hOBJ obj, std::uint32_t* count, std::uint32_t id, const void* buffer,
                     std::uint32_t size) {
    *count = 0;
    return SetName<char>(obj, count, id, buffer, size);
}

} // namespace zev::wfsys
