// The IO object's life: construction, defaults, the access-mode setter
// that reopens an open file, the native-open switch, the lock probe and
// the release of what the object owns.
#include "plugin/io/IoRecord.h"

#include "plugin/frame/BoundTables.h"
#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PluginTrace.h"
#include "plugin/frame/PropertyIds.h"
#include "plugin/frame/Settings.h"
#include "plugin/frame/SystemFunctions.h"
#include "plugin/fs/KernelCalls.h"
#include "plugin/fs/WinErrorMap.h"
#include "plugin/io/IoFlags.h"

#include <cstring>

namespace zev::wfsys {

using namespace zev::frame;

namespace {

constexpr DWORD kUnknownAttributes = INVALID_FILE_ATTRIBUTES;

// Forwarders of the registered method table: each calls the method of the
// same slot through the object's IO table pointer.
template <std::size_t Slot, typename Fn> Fn SlotOf(hOBJ obj) {
    return reinterpret_cast<Fn>(obj->methods[Slot]);
}
Result ForwardReadAt(hOBJ obj, std::uint32_t* read, std::uint64_t offset, void* buffer,
                     std::uint32_t count) {
    return SlotOf<0, decltype(&ReadAt)>(obj)(obj, read, offset, buffer, count);
}
Result ForwardWriteAt(hOBJ obj, std::uint32_t* written, std::uint64_t offset, const void* buffer,
                      std::uint32_t count) {
    return SlotOf<1, decltype(&WriteAt)>(obj)(obj, written, offset, buffer, count);
}
Result ForwardQuerySize(hOBJ obj, std::uint64_t* size, std::uint32_t kind) {
    return SlotOf<2, decltype(&QuerySize)>(obj)(obj, size, kind);
}
Result ForwardResize(hOBJ obj, std::uint64_t newSize) {
    return SlotOf<3, decltype(&Resize)>(obj)(obj, newSize);
}
Result ForwardFlushBuffers(hOBJ obj) {
    return SlotOf<4, decltype(&FlushBuffers)>(obj)(obj);
}

/// The class's own table, which the object's IO pointer leads to.
const AnyFn kWin32IODataMethods[] = {
    reinterpret_cast<AnyFn>(&ReadAt),       reinterpret_cast<AnyFn>(&WriteAt),
    reinterpret_cast<AnyFn>(&QuerySize),    reinterpret_cast<AnyFn>(&Resize),
    reinterpret_cast<AnyFn>(&FlushBuffers),
};

bool CreationCompleted(hOBJ obj) {
    return obj->sys->ObjectCheckState(obj, kPropCreationCompleted) == 1;
}

} // namespace

const AnyFn* IoMethodTable() {
    static const AnyFn kForwarders[] = {
        reinterpret_cast<AnyFn>(&ForwardReadAt),       reinterpret_cast<AnyFn>(&ForwardWriteAt),
        reinterpret_cast<AnyFn>(&ForwardQuerySize),    reinterpret_cast<AnyFn>(&ForwardResize),
        reinterpret_cast<AnyFn>(&ForwardFlushBuffers),
    };
    return kForwarders;
}

Result ObjectConstruct(hOBJ obj, std::uint32_t flag) {
    if (!flag || !obj)
        return errOK;
    obj->methods = kWin32IODataMethods;
    // The object-interface pointer leads to the framework's table once the
    // framework has put it there; until then nothing of it is called.
    std::memset(&Io(obj)->times_record, 0, sizeof(TimesRecord));
    return errOK;
}

Result ObjectInit(hOBJ obj) {
    if (!g_kernel.fCreateFile) {
        PluginTrace(g_root, kTraceError,
                    "wfsys\tCreateFile export pointer cannot be imported from the Windows kernel");
        return errOBJECT_NOT_CREATED;
    }
    Win32IOData* d = Io(obj);
    d->win_error = 0;
    d->stored_b = d->stored_c = 0;
    d->native_open = 0;
    d->direct_handle = 0;
    d->written = 0;
    d->saved_security = nullptr;
    d->overlapped_reader = nullptr;
    d->open_mode = kOpenExisting;
    d->access_mode = fACCESS_READ;
    d->clamp_reads = 1;
    d->may_clear_attributes = 1;
    d->restore_on_close = 1;
    d->stored_a = 0;
    d->handle = INVALID_HANDLE_VALUE;
    d->saved_attributes = kUnknownAttributes;
    d->os_object = nullptr;
    if (hOBJ parent = obj->sys->ObjectParent(obj);
        parent && parent->sys->PropGetDWord(parent, kPropInterfaceId) == IID_OS)
        d->os_object = parent;
    return errOK;
}

Result SetAccessMode(hOBJ obj, std::uint32_t* count, std::uint32_t, const void* buffer,
                     std::uint32_t size) {
    Win32IOData* d = Io(obj);
    *count = 0;
    const bool completed = CreationCompleted(obj);
    if (completed && (d->access_mode & kAccessFrozen))
        return errACCESS_DENIED;
    if ((buffer == nullptr) != (size == 0))
        return errPARAMETER_INVALID;
    if (!buffer) {
        *count = 4;
        return errOK;
    }
    if (size < sizeof(std::uint32_t))
        return errPARAMETER_INVALID;
    std::uint32_t value = 0;
    std::memcpy(&value, buffer, sizeof value);
    if (!(value & kAccessMeaningfulBits))
        value |= fACCESS_READ;
    if (value == d->access_mode) {
        *count = 4;
        return errOK;
    }
    const std::uint32_t oldMode = d->access_mode;
    d->access_mode = value;
    if (!completed) {
        *count = 4;
        return errOK;
    }
    const HANDLE oldHandle = d->handle;
    d->reopening = 1;
    d->handle = INVALID_HANDLE_VALUE;
    const Result r = ObjectInitDone(obj);
    if (Failed(r)) {
        if (d->handle != INVALID_HANDLE_VALUE && d->handle)
            ::CloseHandle(d->handle);
        d->access_mode = oldMode;
        d->handle = oldHandle;
        d->reopening = 0;
        return r;
    }
    d->reopening = 0;
    if (oldHandle != INVALID_HANDLE_VALUE && oldHandle)
        ::CloseHandle(oldHandle);
    d->position = 0;
    *count = 4;
    return r;
}

Result GetNativeOpen(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                     std::uint32_t size) {
    *count = 4;
    if (!buffer)
        return errOK;
    if (size < 4)
        return errBUFFER_TOO_SMALL;
    std::memcpy(buffer, &Io(obj)->native_open, 4);
    return errOK;
}

Result SetNativeOpen(hOBJ obj, std::uint32_t* count, std::uint32_t, const void* buffer,
                     std::uint32_t size) {
    *count = 4;
    if (!buffer || size < 4)
        return errPARAMETER_INVALID;
    std::uint32_t value = 0;
    std::memcpy(&value, buffer, 4);
    if (value == 1 && !g_nativeApi) {
        *count = 0;
        return errNOT_SUPPORTED;
    }
    Io(obj)->native_open = value;
    return errOK;
}

Result GetNotLocked(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                    std::uint32_t size) {
    Win32IOData* d = Io(obj);
    if (d->handle != INVALID_HANDLE_VALUE && d->handle) {
        *count = 0;
        if (buffer && size >= 4)
            std::memset(buffer, 0, 4);
        return errOBJECT_NOT_OPENED;
    }
    std::uint32_t value = 1;
    if (HasName(d)) {
        const HANDLE probe =
            OpenByMode(d, d->name_buffer, GENERIC_READ, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
        if (probe != INVALID_HANDLE_VALUE) {
            ::CloseHandle(probe);
        } else {
            d->win_error = ::GetLastError();
            value = d->win_error == ERROR_SHARING_VIOLATION ? 0 : 1;
        }
    }
    *count = 4;
    if (buffer) {
        if (size < 4)
            return errBUFFER_TOO_SMALL;
        std::memcpy(buffer, &value, 4);
    }
    return errOK;
}

} // namespace zev::wfsys
