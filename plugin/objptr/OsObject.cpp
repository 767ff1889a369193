#include "plugin/objptr/OsObject.h"

#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PluginTrace.h"
#include "plugin/frame/PropertyIds.h"
#include "plugin/frame/Settings.h"
#include "plugin/frame/SystemFunctions.h"
#include "plugin/fs/FileOps.h"
#include "plugin/fs/HostCalls.h"
#include "plugin/fs/KernelCalls.h"
#include "plugin/fs/PathForms.h"
#include "plugin/fs/WinErrorMap.h"

#include <cstring>

namespace zev::wfsys {

using namespace zev::frame;

namespace {

OsData* Os(hOBJ os) {
    return DataOf<OsData>(os);
}

/// A name read from an object into a 520-byte buffer that grows on demand.
struct ObjectName {
    hOBJ obj = nullptr;
    alignas(wchar_t) unsigned char initial[kNameBufferBytes] = {};
    void* text = initial;
    std::uint32_t bytes = 0;
    std::uint32_t iid = 0;
    Result Read(hOBJ from, std::uint32_t propId) {
        obj = from;
        return ReadTextProperty(from, &text, sizeof initial, propId, &bytes, &iid);
    }
    ~ObjectName() {
        if (obj && text != initial)
            obj->sys->ObjHeapFree(obj, text);
    }
};

std::uint32_t InterfaceOf(hOBJ obj) {
    return obj->sys->PropGetDWord(obj, kPropInterfaceId);
}

/// The full names of a source and a destination object.
Result ReadNames(hOBJ source, hOBJ destination, ObjectName* from, ObjectName* to) {
    const Result r = from->Read(source, kPropFullName);
    return Failed(r) ? r : to->Read(destination, kPropFullName);
}

/// A child of the OS object of interface `iid` whose property `propId`
/// holds the same property's text of `named`; not yet completed.
Result NamedChild(hOBJ os, hOBJ named, std::uint32_t iid, std::uint32_t propId,
                  ChildObject* child) {
    ObjectName name;
    Result r = name.Read(named, propId);
    if (Failed(r))
        return r;
    r = os->sys->ObjectCreate(os, &child->obj, iid, kPidWfsys, 0);
    if (Failed(r) || !child->obj) {
        child->obj = nullptr;
        return Failed(r) ? r : errUNEXPECTED;
    }
    std::uint32_t count = 0;
    return child->obj->sys->PropSetStr(child->obj, &count, propId, name.text, name.bytes,
                                       g_codePage);
}

/// Completes a child's creation; a failure closes it and passes its last
/// Windows error on to the OS object.
Result Deliver(hOBJ os, ChildObject& child, Result r, hOBJ* out) {
    if (!child.obj)
        return r;
    if (Succeeded(r))
        r = child.obj->sys->ObjectCreateDone(child.obj);
    if (Failed(r)) {
        Os(os)->win_error = child.obj->sys->PropGetDWord(child.obj, kPropWinError);
        return r;
    }
    *out = child.Release();
    return errOK;
}

} // namespace

Result OsPtrCreate(hOBJ os, hOBJ* out, hOBJ folder) {
    Os(os)->win_error = 0;
    if (!out || !folder)
        return errPARAMETER_INVALID;
    *out = nullptr;
    if (InterfaceOf(folder) == IID_OBJPTR)
        return objptr::Clone(folder, out);
    ChildObject child;
    const Result r = NamedChild(os, folder, IID_OBJPTR, kPropFolder, &child);
    return Deliver(os, child, r, out);
}

Result OsIOCreate(hOBJ os, hOBJ* out, hOBJ file, std::uint32_t access, std::uint32_t openMode) {
    Os(os)->win_error = 0;
    if (!out || !file)
        return errPARAMETER_INVALID;
    *out = nullptr;
    ChildObject child;
    Result r = NamedChild(os, file, IID_IO, kPropFullName, &child);
    if (Succeeded(r))
        r = child.obj->sys->PropSetDWord(child.obj, kPropOpenMode, openMode);
    if (Succeeded(r))
        r = child.obj->sys->PropSetDWord(child.obj, kPropAccessMode, access);
    return Deliver(os, child, r, out);
}

Result OsCopy(hOBJ os, hOBJ source, hOBJ destination, std::uint32_t overwrite) {
    OsData* d = Os(os);
    d->win_error = 0;
    if (!g_kernel.fCopyFile) {
        PluginTrace(os, kTraceError,
                    "wfsys\tCopyFile export pointer cannot be imported from the Windows kernel");
        return errFUNCTION_NOT_FOUND;
    }
    if (!source || !destination)
        return errPARAMETER_INVALID;
    ObjectName from, to;
    const Result r = ReadNames(source, destination, &from, &to);
    if (Failed(r))
        return r;
    const BOOL copied = CopyByName(from.text, to.text, overwrite ? FALSE : TRUE);
    return copied ? errOK : MapLastError(&d->win_error);
}

Result OsRename(hOBJ os, hOBJ source, hOBJ destination, std::uint32_t replace) {
    OsData* d = Os(os);
    d->win_error = 0;
    if (!source || !destination)
        return errPARAMETER_INVALID;
    if (InterfaceOf(source) == IID_OBJPTR) {
        const Result r = objptr::Rename(source, destination, replace);
        d->win_error = source->sys->PropGetDWord(source, kPropWinError);
        return r;
    }
    ObjectName from, to;
    const Result r = ReadNames(source, destination, &from, &to);
    if (Failed(r))
        return r;
    return MoveOrCopyFile(os, static_cast<const wchar_t*>(from.text),
                          static_cast<const wchar_t*>(to.text), replace != 0, &d->win_error);
}

Result OsDelete(hOBJ os, hOBJ obj) {
    OsData* d = Os(os);
    d->win_error = 0;
    if (!obj)
        return errPARAMETER_INVALID;
    const std::uint32_t iid = InterfaceOf(obj);
    if (iid == IID_IO)
        return obj->sys->PropSetDWord(obj, kPropDeleteOnClose, 1);
    if (!g_kernel.fDeleteFile)
        return errFUNCTION_NOT_FOUND;
    ObjectName name;
    Result r = name.Read(obj, kPropFullName);
    if (Failed(r))
        return r;
    if (!DeleteByName(name.text))
        return MapLastError(&d->win_error);
    if (iid != IID_OBJPTR)
        return errOK;
    r = objptr::Next(obj);
    if (Succeeded(r) || r == errOUT_OF_RANGE || r == errEND_OF_THE_LIST)
        return errOK;
    if (Failed(objptr::Reset(obj, 0)))
        PluginTrace(os, kTraceError, "wfsys\tPointer cannot be advanced and reset");
    else
        PluginTrace(os, kTraceError, "wfsys\tPointer cannot be advanced. It has been reset");
    return r;
}

} // namespace zev::wfsys
