// Stand-in of the product's remote-access library "vlremote.dll". It
// serves the API-table entries the installer calls (the others stay null),
// a root with LoadProxyStub (which accepts "vxstub.vpm" when that file is
// in the library's folder), a heap, and TaskManager proxies whose messages
// and stop request travel to "grd.exe" over its pipe. Every call is logged
// to "vlremote.log" in the library's folder; "Deinitialize" reports the
// heap blocks and proxies still outstanding.
//
// Built a second time without the export VLGetAPI, for the scenario of a
// library that lacks it.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>

#include "common/UniqueHandle.h"
#include "installer/system/FrameworkMessages.h"
#include "installer/system/RemoteApi.h"
#include "testbed/product/ProductTestbed.h"

using namespace velora;
using namespace zev::testbed;

namespace {

std::atomic<long> g_blocks{0};
std::atomic<long> g_proxies{0};

const std::wstring& Folder() {
    static const std::wstring folder = ModuleFolder(reinterpret_cast<const void*>(&Folder));
    return folder;
}

void Log(const std::string& line) {
    AppendLine(Folder() + L"\\" + kLibraryLogFile, line);
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text)
        out += static_cast<char>(c < 0x80 ? c : '?');
    return out;
}

// ------------------------------------------------------------------ the root

tERROR RootHeapAlloc(hOBJECT, void** block, tDWORD size) {
    if (!block)
        return errPARAMETER_INVALID;
    *block = ::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, size ? size : 1);
    if (!*block)
        return static_cast<tERROR>(0x80000041);
    ++g_blocks;
    Log(Format("HeapAlloc size=%u", size));
    return errOK;
}

tERROR RootHeapFree(hOBJECT, void* block) {
    if (!block)
        return errPARAMETER_INVALID;
    Log(Format("HeapFree text=%s", static_cast<const char*>(block)));
    ::HeapFree(::GetProcessHeap(), 0, block);
    --g_blocks;
    return errOK;
}

tERROR LoadProxyStub(hROOT, tDWORD flags, const char* name, tDWORD length, tDWORD codePage) {
    const std::string requested = name ? std::string(name, length) : std::string();
    tERROR result = errOK;
    if (requested != product::kProxyStub || codePage != kCodePageAnsi)
        result = errPARAMETER_INVALID;
    else if (::GetFileAttributesW(
                 (Folder() + L"\\" + std::wstring(requested.begin(), requested.end())).c_str()) ==
             INVALID_FILE_ATTRIBUTES)
        result = errOBJECT_NOT_FOUND;
    Log(Format("LoadProxyStub flags=%u name=%s length=%u codepage=%d -> 0x%x", flags,
               requested.c_str(), length, static_cast<int>(codePage), result));
    return result;
}

tERROR ProcessRecord(const cSerDescriptor*, cSerializable* record) {
    Log(Format("ProcessRecord type=0x%x",
               record && record->vtbl ? record->vtbl->TypeId(record) : 0u));
    return errOK;
}

const cSerDescriptor kSyncDescriptor{kTypeFSSyncRequest, ProcessRecord};

tERROR FindSerializable(hROOT, tDWORD typeId, const cSerDescriptor** descriptor) {
    if (!descriptor)
        return errPARAMETER_INVALID;
    *descriptor = typeId == kTypeFSSyncRequest ? &kSyncDescriptor : nullptr;
    return *descriptor ? errOK : errOBJECT_NOT_FOUND;
}

const cRootMethods kRootMethods = [] {
    cRootMethods m{};
    m.LoadProxyStub = LoadProxyStub;
    m.FindSerializable = FindSerializable;
    return m;
}();

const cSystemTable kRootSystem = [] {
    cSystemTable t{};
    t.HeapAlloc = RootHeapAlloc;
    t.HeapFree = RootHeapFree;
    return t;
}();

cObject g_root{&kRootMethods, &kRootSystem, nullptr};

// ------------------------------------------------------- the TaskManager proxy

struct ProxyObject {
    cObject header;
    zev::UniqueFile pipe;
};

zev::UniqueFile ConnectToService(DWORD timeoutMs) {
    const std::wstring name = PipeName(Folder());
    const DWORD start = ::GetTickCount();
    for (;;) {
        zev::UniqueFile pipe(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
        if (pipe) {
            DWORD mode = PIPE_READMODE_MESSAGE;
            ::SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr);
            return pipe;
        }
        if (::GetTickCount() - start >= timeoutMs)
            return {};
        if (::GetLastError() == ERROR_PIPE_BUSY)
            ::WaitNamedPipeW(name.c_str(), 100);
        else
            ::Sleep(20);
    }
}

tERROR Transact(HANDLE pipe, const GrdRequest& request) {
    GrdReply reply{errNOT_ANSWERED};
    DWORD got = 0;
    if (!::TransactNamedPipe(pipe, const_cast<GrdRequest*>(&request), sizeof(request), &reply,
                             sizeof(reply), &got, nullptr) ||
        got != sizeof(reply))
        return errNOT_ANSWERED;
    return reply.result;
}

HANDLE PipeOf(hOBJECT object) {
    return reinterpret_cast<ProxyObject*>(object)->pipe.get();
}

tERROR ProxySendMsg(hOBJECT self, tDWORD msgClass, tDWORD msgId, hOBJECT, void* buffer,
                    tDWORD size) {
    GrdRequest request{};
    request.kind = RequestKind::Message;
    request.msgClass = msgClass;
    request.msgId = msgId;
    if (buffer && size == kSerializableBufferSize) {
        // A serializable record: its fields follow its method table.
        auto* record = static_cast<cSerializable*>(buffer);
        request.typeId = record->vtbl->TypeId(record);
        const tDWORD recordSize = record->vtbl->Size(record);
        request.payloadSize = recordSize > sizeof(void*) ? recordSize - sizeof(void*) : 0;
        if (request.payloadSize > kMaxPayload)
            request.payloadSize = kMaxPayload;
        std::memcpy(request.payload, static_cast<char*>(buffer) + sizeof(void*),
                    request.payloadSize);
    } else if (buffer && size) {
        request.payloadSize = size > kMaxPayload ? kMaxPayload : size;
        std::memcpy(request.payload, buffer, request.payloadSize);
    }
    const tERROR result = Transact(PipeOf(self), request);
    Log(Format("SendMsg class=0x%08x id=0x%x type=0x%x -> 0x%x", msgClass, msgId, request.typeId,
               result));
    return result;
}

tERROR ProxyStopRequest(hOBJECT self, tDWORD flags) {
    GrdRequest request{};
    request.kind = RequestKind::Stop;
    const tERROR result = Transact(PipeOf(self), request);
    Log(Format("StopRequest flags=%u -> 0x%x", flags, result));
    return result;
}

const cTaskManagerMethods kTaskManagerMethods{nullptr, ProxyStopRequest};

const cSystemTable kProxySystem = [] {
    cSystemTable t{};
    t.SendMsg = ProxySendMsg;
    return t;
}();

// ----------------------------------------------------------------- the API

tERROR RemoteInitialize(tDWORD mode, tDWORD flags) {
    Log(Format("Initialize mode=%u flags=%u", mode, flags));
    return errOK;
}

tERROR RemoteDeinitialize() {
    Log(Format("Deinitialize blocks=%ld proxies=%ld", g_blocks.load(), g_proxies.load()));
    return errOK;
}

tERROR RemoteGetRoot(hROOT* root) {
    if (!root)
        return errPARAMETER_INVALID;
    *root = &g_root;
    Log("GetRoot");
    return errOK;
}

tERROR RemoteStartProcess(std::int32_t session, const char* executable, const char* arguments,
                          tDWORD timeoutMs, tDWORD, tDWORD, tDWORD) {
    const std::string exe = executable ? executable : "";
    const std::string args = arguments ? arguments : "";
    const std::wstring path = Folder() + L"\\" + std::wstring(exe.begin(), exe.end());
    std::wstring command = L"\"" + path + L"\" " + std::wstring(args.begin(), args.end());
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    tERROR result = errOK;
    if (!::CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          Folder().c_str(), &si, &pi)) {
        result = errUNEXPECTED;
    } else {
        zev::UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
        // Started means answering: wait for the service's pipe.
        if (!ConnectToService(timeoutMs))
            result = errNOT_ANSWERED;
    }
    Log(Format("StartProcess session=%d exe=%s args=%s timeout=%u -> 0x%x", session, exe.c_str(),
               args.c_str(), timeoutMs, result));
    return result;
}

tERROR RemoteGetProxy(std::int32_t session, const char* objectName, hOBJECT* proxy) {
    const std::string name = objectName ? objectName : "";
    tERROR result = errOK;
    if (!proxy || name != product::kTaskManager) {
        result = errPARAMETER_INVALID;
    } else if (Narrow(Setting(Folder(), L"vlremote", L"Proxy")) == "unavailable") {
        result = errNOT_ANSWERED;
    } else if (zev::UniqueFile pipe = ConnectToService(2000); !pipe) {
        result = errNOT_ANSWERED;
    } else {
        auto* object =
            new ProxyObject{{&kTaskManagerMethods, &kProxySystem, nullptr}, std::move(pipe)};
        *proxy = &object->header;
        ++g_proxies;
    }
    Log(Format("GetProxy session=%d name=%s -> 0x%x", session, name.c_str(), result));
    return result;
}

tERROR RemoteReleaseProxy(hOBJECT proxy) {
    if (!proxy)
        return errPARAMETER_INVALID;
    delete reinterpret_cast<ProxyObject*>(proxy);
    --g_proxies;
    Log("ReleaseProxy");
    return errOK;
}

tERROR RemoteCheckProxy(hOBJECT proxy) {
    if (!proxy)
        return errPARAMETER_INVALID;
    GrdRequest request{};
    request.kind = RequestKind::Ping;
    const tERROR result = Transact(PipeOf(proxy), request);
    Log(Format("CheckProxy -> 0x%x", result));
    return result;
}

} // namespace

tERROR FillApi(RemoteApi* api) {
    if (!api)
        return errPARAMETER_INVALID;
    *api = RemoteApi{};
    api->RemoteInitialize = RemoteInitialize;
    api->RemoteDeinitialize = RemoteDeinitialize;
    api->RemoteGetRoot = RemoteGetRoot;
    api->RemoteStartProcess = RemoteStartProcess;
    api->RemoteGetProxy = RemoteGetProxy;
    api->RemoteReleaseProxy = RemoteReleaseProxy;
    api->RemoteCheckProxy = RemoteCheckProxy;
    Log("VLGetAPI");
    return errOK;
}

#ifndef ZEV_VLREMOTE_WITHOUT_EXPORT
extern "C" __declspec(dllexport) tERROR VLGetAPI(RemoteApi* api) {
    return FillApi(api);
}
#else
// A library of another make: the table comes under another name.
extern "C" __declspec(dllexport) tERROR VLGetApiTable(RemoteApi* api) {
    return FillApi(api);
}
#endif
