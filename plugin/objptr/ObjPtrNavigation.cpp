// ObjPtr: moving between folders and standing on a named entry.
#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PluginTrace.h"
#include "plugin/frame/PropertyIds.h"
#include "plugin/frame/Settings.h"
#include "plugin/fs/PathForms.h"
#include "plugin/objptr/ObjPtrRecord.h"

#include <cwchar>
#include <string>

namespace zev::wfsys {

using namespace zev::frame;

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

/// Reads the full name of `obj` (property 0x20900041) as UTF-16 text.
Result ReadFullName(hOBJ owner, hOBJ obj, std::wstring* out) {
    wchar_t initial[kLocalTextBytes / sizeof(wchar_t)];
    void* buffer = initial;
    std::uint32_t count = 0;
    const Result r = ReadTextProperty(obj, &buffer, sizeof initial, kPropFullName, &count, nullptr);
    if (Succeeded(r))
        out->assign(static_cast<const wchar_t*>(buffer));
    if (buffer != initial)
        owner->sys->ObjHeapFree(owner, buffer);
    return r;
}

} // namespace

Result ReadObjectFullName(hOBJ owner, hOBJ obj, std::wstring* out) {
    return ReadFullName(owner, obj, out);
}

Result StepUp(hOBJ obj) {
    ObjPtrData* d = Ptr(obj);
    d->win_error = 0;
    Result r = errEND_OF_THE_LIST;
    if (d->folder) {
        std::size_t end = std::wcslen(d->folder);
        if (end && IsSeparator(d->folder[end - 1]))
            --end;
        std::size_t cut = 0;
        for (std::size_t i = end; i > 1; --i)
            if (IsSeparator(d->folder[i - 1])) {
                cut = i;
                break;
            }
        if (cut) {
            const std::wstring component(d->folder + cut, end - cut);
            d->folder[cut] = L'\0';
            SetMask(obj, L"*", sizeof(wchar_t));
            Reset(obj, 0);
            do
                r = Next(obj);
            while (Succeeded(r) && ::_wcsicmp(d->find_data.cFileName, component.c_str()) != 0);
        }
    }
    LogOperation(obj, r, kTraceDetail, "step up");
    return r;
}

Result StepDown(hOBJ obj) {
    ObjPtrData* d = Ptr(obj);
    d->win_error = 0;
    Result r = errOK;
    if (d->state != kStatePtr || !(d->find_data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        r = errOBJECT_NOT_OPENED;
    } else if (!d->folder_buffer) {
        r = errOBJECT_NOT_INITIALIZED;
    } else {
        const std::size_t prefixChars = d->folder - d->folder_buffer;
        const std::size_t folderChars = std::wcslen(d->folder);
        const std::size_t nameChars = std::wcslen(d->find_data.cFileName);
        const std::size_t needed = (prefixChars + folderChars + nameChars + 2) * sizeof(wchar_t);
        if (needed > kMaxStepDownBytes) {
            r = errBUFFER_TOO_SMALL;
        } else {
            if (d->folder_capacity < needed) {
                void* block = nullptr;
                r = obj->sys->ObjHeapRealloc(obj, &block, d->folder_buffer, needed);
                if (Succeeded(r)) {
                    d->folder_buffer = static_cast<wchar_t*>(block);
                    d->folder = d->folder_buffer + prefixChars;
                    d->folder_capacity = static_cast<std::uint32_t>(needed);
                }
            }
            if (Succeeded(r)) {
                wchar_t* end = d->folder + folderChars;
                std::wmemcpy(end, d->find_data.cFileName, nameChars);
                end[nameChars] = L'\\';
                end[nameChars + 1] = L'\0';
                r = Reset(obj, 0);
            }
        }
    }
    LogOperation(obj, r, kTraceDetail, "step down");
    return r;
}

Result OP_ChangeTo(hOBJ obj, const wchar_t* name) {
    ObjPtrData* d = Ptr(obj);
    Reset(obj, 0);
    Result r = errOK;
    do
        r = Next(obj);
    while (Succeeded(r) && ::_wcsicmp(d->find_data.cFileName, name) != 0);
    if (Failed(r))
        PluginTrace(obj, kTraceProgress, "wfsys\tOP_ChangeTo: %S not found", name);
    return r;
}

Result ChangeTo(hOBJ obj, hOBJ target) {
    ObjPtrData* d = Ptr(obj);
    d->win_error = 0;
    Result r = errPARAMETER_INVALID;
    if (target) {
        std::wstring full;
        r = ReadFullName(obj, target, &full);
        const wchar_t* name = nullptr;
        if (Succeeded(r)) {
            const std::size_t last = full.find_last_of(L"\\/:");
            const std::size_t nameStart = last == std::wstring::npos ? 0 : last + 1;
            if ((full.size() - nameStart) * sizeof(wchar_t) > kMaxMaskBytes)
                r = errBUFFER_TOO_SMALL;
            else
                r = SplitIntoFolder(obj, full.c_str(), &name);
        }
        if (Succeeded(r)) {
            const std::wstring saved = name;
            r = saved.empty() ? errOBJECT_NOT_FOUND : OP_ChangeTo(obj, saved.c_str());
        }
    }
    LogOperation(obj, r, kTraceDetail, "change_to");
    return r;
}

Result Clone(hOBJ obj, hOBJ* out) {
    ObjPtrData* d = Ptr(obj);
    d->win_error = 0;
    if (out)
        *out = nullptr;
    hOBJ parent = obj->sys->ObjectParent(obj);
    hOBJ copy = nullptr;
    Result r = obj->sys->ObjectCreate(parent ? parent : g_root, &copy, IID_OBJPTR, kPidWfsys, 0);
    if (Succeeded(r) && d->folder) {
        const std::wstring folder = FolderText(d);
        std::uint32_t count = 0;
        r = copy->sys->PropSetStr(copy, &count, kPropFolder, folder.c_str(),
                                  static_cast<std::uint32_t>(folder.size() * sizeof(wchar_t)),
                                  g_codePage);
    }
    if (Succeeded(r)) {
        std::uint32_t count = 0;
        copy->sys->PropSetStr(copy, &count, objprop::kMask, d->mask,
                              static_cast<std::uint32_t>(std::wcslen(d->mask) * sizeof(wchar_t)),
                              g_codePage);
        copy->sys->PropSetDWord(copy, objprop::kMaskFolders, d->mask_folders);
        if (d->native_enum == kNativeEnumOn)
            copy->sys->PropSetDWord(copy, objprop::kNativeEnum, d->native_enum);
        r = copy->sys->ObjectCreateDone(copy);
    }
    if (Succeeded(r)) {
        if (d->state == kStateAft) {
            do
                r = Next(copy);
            while (Succeeded(r));
            if (r == errOUT_OF_RANGE || r == errEND_OF_THE_LIST)
                r = errOK;
        } else if (d->state == kStatePtr) {
            r = OP_ChangeTo(copy, d->find_data.cFileName);
        }
    }
    if (Failed(r) && copy) {
        copy->sys->ObjectClose(copy);
        copy = nullptr;
    }
    if (out)
        *out = copy;
    LogOperation(obj, r, kTraceDetail, "clone");
    return r;
}

} // namespace zev::wfsys
