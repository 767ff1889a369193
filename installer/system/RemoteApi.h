// The binary interface between the installer and the product's
// remote-access library "vlremote.dll": the API table that its export
// VLGetAPI fills, and the layout of the framework objects it hands out
// (the root in the product's process and the TaskManager proxy).
//
// Only what the installer calls is typed; the other slots keep their
// place as opaque entries and must not be called.
#pragma once

#include <cstddef>
#include <cstdint>

#include "installer/system/FrameworkResults.h"

namespace velora {

using tDWORD = std::uint32_t;
using tBOOL = std::int32_t;
using tFUNC = void (*)();

struct cObject;
using hOBJECT = cObject*;
using hROOT = cObject*;

/// The system table shared by every framework object, in slot order.
struct cSystemTable {
    tFUNC ObjectStateQuery;
    tFUNC GetPropU32;
    tFUNC GetPropU64;
    tFUNC SetFlag;
    tFUNC SetPropU32;
    tFUNC Parent;
    tFUNC InterfaceQuery;
    tFUNC CreateChild;
    tFUNC CompleteCreation;
    tFUNC Close;
    /// (object, message class, message id, context object, buffer, size);
    /// a size of kSerializableBufferSize marks a serializable record.
    tERROR (*SendMsg)(hOBJECT self, tDWORD msgClass, tDWORD msgId, hOBJECT context, void* buffer,
                      tDWORD size);
    tFUNC QuickCreateChild;
    tERROR (*HeapAlloc)(hOBJECT self, void** block, tDWORD size);
    tFUNC HeapRealloc;
    tERROR (*HeapFree)(hOBJECT self, void* block);
    tFUNC ReadTextProp;
    tFUNC WriteTextProp;
    tFUNC GetPtrProp;
};

/// Every framework object begins with its interface's method table, then
/// the system table, then one word of the host.
struct cObject {
    const void* methods;
    const cSystemTable* sys;
    void* host;
};

struct cSerializable;

/// A registered serializable record type, as the root hands it out.
struct cSerDescriptor {
    tDWORD typeId;
    /// Lets the framework process a finished record of this type.
    tERROR (*Process)(const cSerDescriptor* self, cSerializable* record);
};

/// Method table of the root object, in slot order.
struct cRootMethods {
    tFUNC RegisterInterface;
    tFUNC PublishExports;
    tFUNC BindImports;
    tFUNC ReleaseImports;
    tFUNC LookupExport;
    /// (root, flags, narrow name, name length, code page of the name)
    tERROR (*LoadProxyStub)(hROOT root, tDWORD flags, const char* name, tDWORD length,
                            tDWORD codePage);
    /// The registered descriptor of a record type, or errOBJECT_NOT_FOUND.
    tERROR (*FindSerializable)(hROOT root, tDWORD typeId, const cSerDescriptor** descriptor);
};

/// Method table of the product's TaskManager object, in slot order.
struct cTaskManagerMethods {
    tFUNC Reserved;
    /// Asks the product service to stop.
    tERROR (*StopRequest)(hOBJECT self, tDWORD flags);
};

/// The remote-access library's API table: 32 entries, filled by VLGetAPI.
struct RemoteApi {
    tFUNC Entry0;
    /// (1, 0) at start.
    tERROR (*RemoteInitialize)(tDWORD mode, tDWORD flags);
    tERROR (*RemoteDeinitialize)();
    tERROR (*RemoteGetRoot)(hROOT* root);
    tFUNC Entries4to8[5];
    /// (-1, executable, arguments, start timeout in ms, 0, 0, 0)
    tERROR (*RemoteStartProcess)(std::int32_t session, const char* executable,
                                 const char* arguments, tDWORD timeoutMs, tDWORD flags,
                                 tDWORD reserved1, tDWORD reserved2);
    tFUNC Entries10to14[5];
    /// (-1, narrow object name, out proxy)
    tERROR (*RemoteGetProxy)(std::int32_t session, const char* objectName, hOBJECT* proxy);
    tFUNC Entry16;
    tERROR (*RemoteReleaseProxy)(hOBJECT proxy);
    tFUNC Entries18to19[2];
    tERROR (*RemoteCheckProxy)(hOBJECT proxy);
    tFUNC Entries21to31[11];
};
static_assert(sizeof(RemoteApi) == 32 * sizeof(tFUNC));
static_assert(offsetof(RemoteApi, RemoteStartProcess) == 9 * sizeof(tFUNC));
static_assert(offsetof(RemoteApi, RemoteGetProxy) == 15 * sizeof(tFUNC));
static_assert(offsetof(RemoteApi, RemoteReleaseProxy) == 17 * sizeof(tFUNC));
static_assert(offsetof(RemoteApi, RemoteCheckProxy) == 20 * sizeof(tFUNC));

/// Signature of the export "VLGetAPI".
using VLGetAPIFunc = tERROR (*)(RemoteApi* api);

/// Serializable records: a method table, then the fields.
struct cSerializableMethods {
    tDWORD (*TypeId)(const cSerializable* self);
    tBOOL (*IsBasedOn)(const cSerializable* self, tDWORD typeId);
    tERROR (*Assign)(cSerializable* self, const cSerializable* source, tBOOL strict, tBOOL keep);
    tERROR (*CopyTo)(const cSerializable* self, cSerializable* target, tBOOL strict);
    tDWORD (*Size)(const cSerializable* self);
    tERROR (*Slot5)(cSerializable* self);
    void (*Release)(cSerializable* self);
    tERROR (*Finish)(cSerializable* self);
    void (*Slot8)(cSerializable* self);
    void (*Slot9)(cSerializable* self);
    tERROR (*Slot10)(cSerializable* self);
    tERROR (*Slot11)(cSerializable* self);
};

struct cSerializable {
    const cSerializableMethods* vtbl;
};

/// Names the product and its framework are reached by.
namespace product {
inline constexpr char kRemoteLibrary[] = "vlremote.dll";
inline constexpr char kGetApiExport[] = "VLGetAPI";
inline constexpr char kServiceImage[] = "grd.exe";
inline constexpr wchar_t kServiceImageW[] = L"grd.exe";
inline constexpr char kServiceStartArgs[] = "-s";
inline constexpr char kProxyStub[] = "vxstub.vpm";
inline constexpr char kTaskManager[] = "TaskManager";
/// Session argument of the start and proxy calls: the current session.
inline constexpr std::int32_t kCurrentSession = -1;
/// How long the library waits for a started service to answer.
inline constexpr tDWORD kServiceStartTimeoutMs = 20000;
} // namespace product

} // namespace velora
