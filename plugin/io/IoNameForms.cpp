// The IO object's name-form getters: short and long forms, the device
// form and the drive type of its name.
#include "plugin/io/IoRecord.h"

#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PluginTrace.h"
#include "plugin/frame/PropertyIds.h"
#include "plugin/frame/Settings.h"
#include "plugin/frame/SystemFunctions.h"
#include "plugin/fs/PathComponents.h"
#include "plugin/fs/PathForms.h"
#include "plugin/fs/WinErrorMap.h"
#include "plugin/io/PropertyValue.h"

#include <cstring>
#include <cwchar>
#include <string>

namespace zev::wfsys {

using namespace zev::frame;

namespace {

/// A text read into a fixed buffer that may have been replaced by a
/// framework-heap block.
struct NameRead {
    hOBJ obj;
    unsigned char initial[kNameBufferBytes + 8] = {};
    void* buffer = initial;
    ~NameRead() {
        if (buffer != initial)
            HeapFree(obj, buffer);
    }
    /// Reads property `id` behind `spare` bytes kept free at the front.
    Result Read(std::uint32_t id, std::size_t spare = 0) {
        std::uint32_t count = 0;
        void* at = initial + spare;
        Result r = ReadTextProperty(obj, &at, kNameBufferBytes - static_cast<std::uint32_t>(spare),
                                    id, &count, nullptr);
        if (at != initial + spare) {
            // Grown: move the text behind the spare bytes of a fresh block.
            void* block = nullptr;
            if (Failed(HeapAlloc(obj, &block, count + spare + sizeof(wchar_t)))) {
                HeapFree(obj, at);
                return errNOT_ENOUGH_MEMORY;
            }
            std::memcpy(static_cast<unsigned char*>(block) + spare, at, count);
            HeapFree(obj, at);
            buffer = block;
            return r;
        }
        return r;
    }
    wchar_t* Text(std::size_t spare = 0) {
        return reinterpret_cast<wchar_t*>(static_cast<unsigned char*>(buffer) + spare);
    }
};

/// Reads a getter of this object into `read` (one growth through the heap).
Result ReadOwn(hOBJ obj, PropGetter getter, std::uint32_t id, NameRead& read) {
    std::uint32_t count = 0;
    Result r = getter(obj, &count, id, read.buffer, kNameBufferBytes);
    if (r == errBUFFER_TOO_SMALL && count) {
        void* block = nullptr;
        if (Failed(HeapAlloc(obj, &block, count)))
            return errNOT_ENOUGH_MEMORY;
        read.buffer = block;
        r = getter(obj, &count, id, block, count);
    }
    return r;
}

/// The part of `text` after its last separator (`alsoSlash`: "/" too).
const wchar_t* LastPart(const wchar_t* text, bool alsoSlash) {
    const wchar_t* back = std::wcsrchr(text, L'\\');
    if (!back && alsoSlash)
        back = std::wcsrchr(text, L'/');
    return back ? back + 1 : text;
}

/// The part after the last separator of the full-name form `getter`
/// serves. The short form hands out as much as fits, terminated, when the
/// buffer is too small; the long form nothing, with count 0.
Result FileNamePart(hOBJ obj, PropGetter getter, std::uint32_t id, bool longForm,
                    std::uint32_t* count, void* buffer, std::uint32_t size) {
    Io(obj)->win_error = 0;
    *count = 0;
    NameRead full{obj};
    if (Result r = ReadOwn(obj, getter, id, full); Failed(r))
        return r;
    const wchar_t* part = LastPart(full.Text(), longForm);
    const std::size_t bytes = (std::wcslen(part) + 1) * sizeof(wchar_t);
    const Result r = CopyValue(part, bytes, count, buffer, size);
    if (r == errBUFFER_TOO_SMALL) {
        const std::size_t fit = size / sizeof(wchar_t);
        if (longForm) {
            *count = 0;
        } else if (fit) {
            std::wmemcpy(static_cast<wchar_t*>(buffer), part, fit - 1);
            static_cast<wchar_t*>(buffer)[fit - 1] = L'\0';
        }
    }
    return r;
}

std::uint32_t DriveTypeOf(const Win32IOData* d) {
    if (!HasName(d) || !g_kernel.fGetDriveType)
        return 0;
    if (g_wideMode) {
        const auto* full = static_cast<const wchar_t*>(d->full_name);
        if (!full[0] || full[1] != L':')
            return 0;
        const wchar_t root[] = {full[0], L':', L'\\', L'\0'};
        return Fn<decltype(&::GetDriveTypeW)>(g_kernel.fGetDriveType)(root);
    }
    const auto* full = static_cast<const char*>(d->full_name);
    if (!full[0] || full[1] != ':')
        return 0;
    const char root[] = {full[0], ':', '\\', '\0'};
    return Fn<decltype(&::GetDriveTypeA)>(g_kernel.fGetDriveType)(root);
}

} // namespace

Result GetShortFullName(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                        std::uint32_t size) {
    Win32IOData* d = Io(obj);
    d->win_error = 0;
    *count = 0;
    if (!g_kernel.fGetShortPathName)
        return errNOT_SUPPORTED;
    if (!g_wideMode)
        return errNOT_SUPPORTED;
    NameRead name{obj};
    if (Result r = name.Read(kPropFullName); Failed(r))
        return r;
    const std::uint32_t chars = buffer ? size / sizeof(wchar_t) : 0;
    const DWORD n = Fn<decltype(&::GetShortPathNameW)>(g_kernel.fGetShortPathName)(
        name.Text(), static_cast<wchar_t*>(buffer), chars);
    if (n == 0)
        return MapLastError(&d->win_error);
    *count = (n + 1) * sizeof(wchar_t);
    if (chars && chars < n)
        return errBUFFER_TOO_SMALL;
    return errOK;
}

Result GetShortFileName(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                        std::uint32_t size) {
    return FileNamePart(obj, GetShortFullName, ioprop::kShortFullName, false, count, buffer, size);
}

Result GetLongFullName(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                       std::uint32_t size) {
    Win32IOData* d = Io(obj);
    d->win_error = 0;
    *count = 0;
    if (!g_wideMode)
        return errNOT_SUPPORTED;
    constexpr std::size_t kSpare = kLongPrefixChars * sizeof(wchar_t);
    NameRead name{obj};
    Result r = name.Read(kPropFullName, kSpare);
    if (Failed(r)) {
        PluginTrace(obj, kTraceError, "wfsys\tIO(w32):GetLongFullName error %x", r);
        return r;
    }
    wchar_t* full = name.Text(kSpare);
    auto* dest = static_cast<wchar_t*>(buffer);
    const std::uint32_t chars = buffer ? size / sizeof(wchar_t) : 0;
    if (g_kernel.fGetLongPathName) {
        const bool addPrefix = !(full[0] == L'\\' && full[1] == L'\\');
        const wchar_t* text = full;
        if (addPrefix) {
            wchar_t* at = name.Text();
            std::wmemcpy(at, kLongPrefix, kLongPrefixChars);
            text = at;
        }
        auto toLong = Fn<decltype(&::GetLongPathNameW)>(g_kernel.fGetLongPathName);
        // The answer carries the prefix that was added: it is taken into a
        // buffer of its own and handed out without it.
        std::wstring answer(kNameBufferBytes / sizeof(wchar_t), L'\0');
        DWORD n = toLong(text, answer.data(), static_cast<DWORD>(answer.size()));
        if (n >= answer.size()) {
            answer.assign(n + 1, L'\0');
            n = toLong(text, answer.data(), static_cast<DWORD>(answer.size()));
        }
        if (n == 0 || n >= answer.size()) {
            r = MapLastError(&d->win_error);
            PluginTrace(obj, kTraceError, "wfsys\tIO(w32):GetLongFullName error %x", r);
            return r;
        }
        answer.resize(n);
        if (addPrefix && answer.compare(0, kLongPrefixChars, kLongPrefix) == 0)
            answer.erase(0, kLongPrefixChars);
        if (!g_caseSensitiveNames)
            ::CharLowerW(answer.data());
        *count = static_cast<std::uint32_t>((answer.size() + 1) * sizeof(wchar_t));
        if (!dest)
            return errOK;
        if (chars < answer.size() + 1)
            return errBUFFER_TOO_SMALL;
        std::wmemcpy(dest, answer.c_str(), answer.size() + 1);
    } else {
        wchar_t* out = dest;
        std::uint32_t outSize = dest ? size : 0;
        std::uint32_t length = 0;
        wchar_t local[kComponentBufferChars * 2];
        if (!dest) {
            out = local;
            outSize = sizeof local;
        }
        wchar_t* given = out;
        r = LongPathByComponents(obj, full, &out, &outSize, &length, &d->win_error);
        if (out != given) {
            HeapFree(obj, out);
            if (Succeeded(r)) {
                *count = length * sizeof(wchar_t);
                r = dest ? errBUFFER_TOO_SMALL : errOK;
            }
            if (Failed(r))
                PluginTrace(obj, kTraceError, "wfsys\tIO(w32):GetLongFullName error %x", r);
            return r;
        }
        if (Failed(r)) {
            PluginTrace(obj, kTraceError, "wfsys\tIO(w32):GetLongFullName error %x", r);
            return r;
        }
        *count = length * sizeof(wchar_t);
        if (!dest)
            return errOK;
    }
    PluginTrace(obj, kTraceProgress, "wfsys\tIO(w32):GetLongFullName succeeded %S", dest);
    return errOK;
}

Result GetLongFileName(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                       std::uint32_t size) {
    return FileNamePart(obj, GetLongFullName, ioprop::kLongFullName, true, count, buffer, size);
}

Result GetDeviceForm(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                     std::uint32_t size) {
    Win32IOData* d = Io(obj);
    *count = 0;
    if (!HasName(d))
        return errOBJECT_NOT_INITIALIZED;
    wchar_t target[MAX_PATH] = {};
    std::size_t offset = 0;
    const std::size_t targetBytes = SubstTarget(obj, target, &offset, 1);
    if (targetBytes && g_wideMode) {
        const std::wstring text =
            std::wstring(target) + (static_cast<const wchar_t*>(d->full_name) + 2);
        return CopyValue(text.c_str(), (text.size() + 1) * sizeof(wchar_t), count, buffer, size);
    }
    return CopyValue(d->name_buffer, d->name_capacity, count, buffer, size);
}

Result GetDriveTypeProp(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                        std::uint32_t size) {
    const std::uint32_t type = DriveTypeOf(Io(obj));
    *count = 4;
    if (buffer && size >= 4)
        std::memcpy(buffer, &type, 4);
    return errOK;
}

Result GetNotFixedDisk(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                       std::uint32_t size) {
    const Win32IOData* d = Io(obj);
    *count = 4;
    const bool named = HasName(d);
    const std::uint32_t value = (!named || DriveTypeOf(d) != DRIVE_FIXED) ? 1 : 0;
    if (buffer && size >= 4)
        std::memcpy(buffer, &value, 4);
    return named ? errOK : errOBJECT_NOT_INITIALIZED;
}

} // namespace zev::wfsys
