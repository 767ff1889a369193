#include "installer/system/ProductConnection.h"

#include <tlhelp32.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "common/UniqueHandle.h"
#include "installer/ProductRegistry.h"
#include "installer/SystemUtils.h"
#include "installer/diagnostics/TraceFile.h"

namespace hotfixer {

using namespace velora;

namespace {

constexpr wchar_t kOpConnect[] = L"CUsingGRD::CUsingGRD";
constexpr char kOpConnectA[] = "CUsingGRD::CUsingGRD";
constexpr wchar_t kOpWait[] = L"CUsingGRD::WaitGRD";
constexpr wchar_t kOpStop[] = L"CUsingGRD::StopGRDIfNeed";
constexpr wchar_t kOpFree[] = L"CUsingGRD::~CUsingGRD";
constexpr wchar_t kOpRegister[] = L"CUsingGRD::RegisterSelfInvisible";
constexpr wchar_t kOpReboot[] = L"CUsingGRD::SetStatusNeedRebootOS";

constexpr char kErrCannotStart[] = "CUsingGRD::CUsingGRD: Cann't start GRD service.";
constexpr char kErrProxyStub[] = "CUsingGRD::CUsingGRD: LoadProxyStub error.";
constexpr char kErrAttach[] = "CUsingGRD::CUsingGRD: cannot attach proxy.";
constexpr char kErrRegister[] = "CUsingGRD::RegisterSelfInvisible: sysSendMsg error.";
constexpr char kErrReboot[] = "CUsingGRD::SetStatusNeedRebootOS: sysSendMsg error.";

/// Room for the module path, narrow, as the library is loaded by it.
constexpr DWORD kModulePathBytes = MAX_PATH;
/// The name block: "TaskManager" with its NUL.
constexpr tDWORD kNameBlockBytes = sizeof(product::kTaskManager);
static_assert(kNameBlockBytes == 12);

hROOT g_processRoot = nullptr;

const cRootMethods* RootMethods(hROOT root) {
    return root ? static_cast<const cRootMethods*>(root->methods) : nullptr;
}

} // namespace

// ---------------------------------------------------------------- RemoteLibrary

RemoteLibrary::~RemoteLibrary() {
    if (m_module && m_api.RemoteDeinitialize)
        m_api.RemoteDeinitialize();
    m_module = nullptr;
}

hROOT RemoteLibrary::ProcessRoot() {
    return g_processRoot;
}

void RemoteLibrary::Load(HMODULE installer) {
    std::string path;
    char buffer[kModulePathBytes] = {};
    const DWORD n = ::GetModuleFileNameA(installer, buffer, kModulePathBytes);
    // A cut path would name some other file: use none then.
    if (n > 0 && n < kModulePathBytes) {
        path.assign(buffer, n);
        const size_t slash = path.find_last_of('\\');
        path.erase(slash == std::string::npos ? 0 : slash + 1);
    }
    path += product::kRemoteLibrary;
    m_module = ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!m_module)
        m_module =
            ::LoadLibraryExA(product::kRemoteLibrary, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!m_module) {
        m_lastError = errREMOTE_LOAD_FAILED;
        return;
    }

    const auto getApi = reinterpret_cast<VLGetAPIFunc>(
        reinterpret_cast<void*>(::GetProcAddress(m_module, product::kGetApiExport)));
    if (!getApi) {
        m_api.RemoteDeinitialize = nullptr;
        return; // m_lastError stays errREMOTE_NOT_LOADED
    }
    m_lastError = getApi(&m_api);
    if (Failed(m_lastError))
        return;
    m_lastError = m_api.RemoteInitialize ? m_api.RemoteInitialize(1, 0) : errREMOTE_NOT_LOADED;
    if (Failed(m_lastError))
        return;
    m_lastError = m_api.RemoteGetRoot ? m_api.RemoteGetRoot(&m_root) : errREMOTE_NOT_LOADED;
    if (!Failed(m_lastError) && !m_root)
        m_lastError = errREMOTE_NOT_LOADED;
    if (Failed(m_lastError))
        m_root = nullptr;
    else
        g_processRoot = m_root;
}

tERROR RemoteLibrary::StartProcess(const char* executable, const char* arguments) const {
    if (!m_module || !m_api.RemoteStartProcess)
        return Failed(m_lastError) ? m_lastError : errREMOTE_NOT_LOADED;
    return m_api.RemoteStartProcess(product::kCurrentSession, executable, arguments,
                                    product::kServiceStartTimeoutMs, 0, 0, 0);
}

tERROR RemoteLibrary::GetProxy(const char* objectName, hOBJECT* proxy) const {
    if (!m_api.RemoteGetProxy)
        return errREMOTE_NOT_LOADED;
    return m_api.RemoteGetProxy(product::kCurrentSession, objectName, proxy);
}

tERROR RemoteLibrary::ReleaseProxy(hOBJECT proxy) const {
    return m_api.RemoteReleaseProxy ? m_api.RemoteReleaseProxy(proxy) : errREMOTE_NOT_LOADED;
}

tERROR RemoteLibrary::CheckProxy(hOBJECT proxy) const {
    return m_api.RemoteCheckProxy ? m_api.RemoteCheckProxy(proxy) : errREMOTE_NOT_LOADED;
}

tERROR RemoteLibrary::LoadProxyStub(const char* name) const {
    const cRootMethods* methods = RootMethods(m_root);
    if (!methods || !methods->LoadProxyStub)
        return errREMOTE_NOT_LOADED;
    return methods->LoadProxyStub(m_root, 0, name, static_cast<tDWORD>(std::strlen(name)),
                                  kCodePageAnsi);
}

// ------------------------------------------------------------- TaskManagerProxy

TaskManagerProxy::TaskManagerProxy(const RemoteLibrary& library) : m_library(library) {
    const hROOT root = m_library.Root();
    if (!root || !root->sys || !root->sys->HeapAlloc)
        return;
    void* block = nullptr;
    if (Failed(root->sys->HeapAlloc(root, &block, kNameBlockBytes)) || !block)
        return;
    m_name = static_cast<char*>(block);
    std::memcpy(m_name, product::kTaskManager, kNameBlockBytes);
}

TaskManagerProxy::~TaskManagerProxy() {
    const hROOT root = m_library.Root();
    if (m_name && root && root->sys && root->sys->HeapFree)
        root->sys->HeapFree(root, m_name);
    m_name = nullptr;
    Release();
}

void TaskManagerProxy::Release() {
    if (m_proxy)
        m_library.ReleaseProxy(m_proxy);
    m_proxy = nullptr;
}

tERROR TaskManagerProxy::Acquire() {
    if (!m_library.Root())
        return errREMOTE_NOT_LOADED;
    // Without a name block there is nothing to name the object by.
    if (!m_name)
        return errPARAMETER_INVALID;
    hOBJECT proxy = nullptr;
    tERROR e = m_library.GetProxy(m_name, &proxy);
    if (!Failed(e) && !proxy)
        e = errNOT_ANSWERED;
    if (!Failed(e))
        m_proxy = proxy;
    return e;
}

bool TaskManagerProxy::Attach() {
    Release();
    return !Failed(Acquire());
}

bool TaskManagerProxy::EnsureAttached() {
    if (m_proxy && !Failed(m_library.CheckProxy(m_proxy)))
        return true;
    Release();
    return !Failed(Acquire());
}

tERROR TaskManagerProxy::SendMsg(MessageCode code, void* buffer, tDWORD size) const {
    if (!m_proxy || !m_proxy->sys || !m_proxy->sys->SendMsg)
        return errREMOTE_NOT_LOADED;
    return m_proxy->sys->SendMsg(m_proxy, code.msgClass, code.msgId, nullptr, buffer, size);
}

tERROR TaskManagerProxy::StopRequest() const {
    const auto* methods =
        m_proxy ? static_cast<const cTaskManagerMethods*>(m_proxy->methods) : nullptr;
    if (!methods || !methods->StopRequest)
        return errREMOTE_NOT_LOADED;
    return methods->StopRequest(m_proxy, 0);
}

// --------------------------------------------------------------- cFSSyncRequest

namespace {

const cFSSyncRequest* AsSync(const cSerializable* record) {
    return static_cast<const cFSSyncRequest*>(record);
}

tDWORD SyncTypeId(const cSerializable*) {
    return kTypeFSSyncRequest;
}

tBOOL SyncIsBasedOn(const cSerializable*, tDWORD typeId) {
    return typeId == kTypeFSSyncRequest || typeId == kTypeAnyRecord;
}

tERROR SyncAssign(cSerializable* self, const cSerializable* source, tBOOL strict, tBOOL keep) {
    if (!source || !source->vtbl || !source->vtbl->IsBasedOn ||
        !source->vtbl->IsBasedOn(source, kTypeFSSyncRequest))
        return strict ? errOBJECT_BAD_STATE : errRECORD_TYPE_LENIENT;
    if (!keep)
        static_cast<cFSSyncRequest*>(self)->processId = AsSync(source)->processId;
    return errOK;
}

tERROR SyncCopyTo(const cSerializable* self, cSerializable* target, tBOOL strict) {
    if (!target || !target->vtbl || !target->vtbl->Assign)
        return errPARAMETER_INVALID;
    return target->vtbl->Assign(target, self, strict, false);
}

tDWORD SyncSize(const cSerializable*) {
    return sizeof(cFSSyncRequest);
}

tERROR SyncReturnOk(cSerializable*) {
    return errOK;
}

void SyncNothing(cSerializable*) {}

tERROR SyncFinish(cSerializable* self) {
    const hROOT root = RemoteLibrary::ProcessRoot();
    const cRootMethods* methods = RootMethods(root);
    if (!methods || !methods->FindSerializable)
        return errREMOTE_NOT_LOADED;
    const cSerDescriptor* descriptor = nullptr;
    const tERROR e = methods->FindSerializable(root, kTypeFSSyncRequest, &descriptor);
    if (Failed(e))
        return e;
    if (!descriptor || !descriptor->Process)
        return errOBJECT_NOT_FOUND;
    return descriptor->Process(descriptor, self);
}

} // namespace

const cSerializableMethods cFSSyncRequest::kMethods = {
    SyncTypeId,  SyncIsBasedOn, SyncAssign,  SyncCopyTo,  SyncSize,     SyncReturnOk,
    SyncNothing, SyncFinish,    SyncNothing, SyncNothing, SyncReturnOk, SyncReturnOk,
};

cFSSyncRequest::cFSSyncRequest() {
    vtbl = &kMethods;
}

static_assert(sizeof(void*) != 4 || sizeof(cFSSyncRequest) == 12,
              "the registration record is 12 bytes in the 32-bit installer");

// -------------------------------------------------------------------- CUsingGRD

CUsingGRD::CUsingGRD(HMODULE installer, SleepFunction sleep)
    : m_sleep(sleep ? std::move(sleep) : SleepFunction([](DWORD ms) { ::Sleep(ms); })) {
    std::vector<wchar_t> folder;
    const LSTATUS rc = RegReadStringValue(zev::product::kProductRoot, zev::product::kEnvironmentKey,
                                          HKEY_LOCAL_MACHINE, folder);
    if (rc != ERROR_SUCCESS)
        throw SystemError(static_cast<DWORD>(rc), kOpConnectA);
    TraceLine(kTraceNotify, L"%s: ProductFolder: %s", kOpConnect, folder.data());
    if (!::SetCurrentDirectoryW(folder.data()))
        throw SystemError(::GetLastError(), kOpConnectA);

    m_library = std::make_unique<RemoteLibrary>();
    m_library->Load(installer);

    for (int attempt = 1;; ++attempt) {
        try {
            TraceLine(kTraceNotify, L"%s: the %d try.", kOpConnect, attempt);
            Attempt();
            TraceLine(kTraceNotify, L"%s: SUCCESS.", kOpConnect);
            return;
        } catch (const std::logic_error& e) {
            StopGRDIfNeed();
            m_failing = false;
            m_proxy.reset();
            if (attempt == kConnectAttempts) {
                TraceLine(kTraceNotify, L"%s: Free Velora.", kOpConnect);
                m_library.reset();
                throw std::logic_error(e.what());
            }
            TraceLine(kTraceNotify, L"%s: Wait before next try.", kOpConnect);
            m_sleep(kRetryPauseMs);
        }
    }
}

void CUsingGRD::Attempt() {
    if (WaitGRD()) {
        TraceLine(kTraceNotify, L"%s: GRD running.", kOpConnect);
    } else {
        TraceLine(kTraceNotify, L"%s: GRD not running.", kOpConnect);
        TraceLine(kTraceNotify, L"%s: Start GRD service.", kOpConnect);
        for (int request = 0; request < kStartRequests; ++request) {
            const tERROR e =
                m_library->StartProcess(product::kServiceImage, product::kServiceStartArgs);
            TraceLine(kTraceNotify, L"cGRD::Start: CreateProcess -s returned: 0x%x", e);
            if (!Failed(e))
                break;
        }
        if (!WaitGRD())
            throw std::logic_error(kErrCannotStart);
        m_startedByUs = true;
    }

    m_proxy = std::make_unique<TaskManagerProxy>(*m_library);

    tERROR e = m_library->LastError();
    if (!Failed(e))
        e = m_library->LoadProxyStub(product::kProxyStub);
    if (Failed(e)) {
        TraceLine(kTraceError, L"%s: LoadProxyStub error 0x%x.", kOpConnect, e);
        m_failing = true;
        throw std::logic_error(kErrProxyStub);
    }

    if (!m_proxy->Attach()) {
        TraceLine(kTraceWarning, L"%s: cannot attach TM proxy.", kOpConnect);
        m_failing = true;
        throw std::logic_error(kErrAttach);
    }
}

CUsingGRD::~CUsingGRD() {
    StopGRDIfNeed();
    TraceLine(kTraceNotify, L"%s: Free Velora.", kOpFree);
    m_proxy.reset();
    m_library.reset();
}

bool CUsingGRD::WaitGRD() {
    for (int check = 0; check < kWaitChecks; ++check) {
        if (IsGRDRunning())
            return true;
        TraceLine(kTraceNotify, L"%s: Wait GRD service...", kOpWait);
        m_sleep(kWaitPauseMs);
    }
    return false;
}

bool CUsingGRD::IsGRDRunning() {
    zev::UniqueKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    bool found = false;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more && !found;
         more = ::Process32NextW(snapshot.get(), &entry))
        found = std::wcscmp(entry.szExeFile, product::kServiceImageW) == 0;
    return found;
}

void CUsingGRD::StopGRDIfNeed() {
    if (!m_startedByUs && !m_failing)
        return;
    TraceLine(kTraceNotify, L"%s: Stop GRD service.", kOpStop);
    if (m_proxy && m_proxy->Get() && m_proxy->EnsureAttached())
        m_proxy->StopRequest();
}

void CUsingGRD::RegisterSelfInvisible() {
    TraceLine(kTraceNotify, L"%s: START", kOpRegister);
    if (!m_library || !m_proxy || !m_proxy->Get()) {
        TraceLine(kTraceImportant, L"%s: no Velora. Nothing to do.", kOpRegister);
        return;
    }
    cFSSyncRequest request;
    request.base = 1;
    request.processId = ::GetCurrentProcessId();
    const tERROR e = m_proxy->SendMsg(kMsgRegisterProcess, &request, kSerializableBufferSize);
    if (Failed(e)) {
        TraceLine(kTraceError, L"%s: sysSendMsg error 0x%x.", kOpRegister, e);
        throw std::logic_error(kErrRegister);
    }
    TraceLine(kTraceNotify, L"%s: SUCCESS", kOpRegister);
}

void CUsingGRD::SetStatusNeedRebootOS() {
    TraceLine(kTraceNotify, L"%s: START", kOpReboot);
    if (!m_library || !m_proxy || !m_proxy->Get()) {
        TraceLine(kTraceImportant, L"%s: no Velora. Nothing to do.", kOpReboot);
        return;
    }
    const struct {
        const wchar_t* before;
        MessageCode code;
    } steps[] = {
        {L"%s: Before create task OS reboot request.", kMsgRequestOsReboot},
        {L"%s: Before send message about change product state.", kMsgProductStateChanged},
    };
    for (const auto& step : steps) {
        TraceLine(kTraceNotify, step.before, kOpReboot);
        const tERROR e = m_proxy->SendMsg(step.code, nullptr, 0);
        if (Failed(e)) {
            TraceLine(kTraceError, L"%s: sysSendMsg error 0x%x.", kOpReboot, e);
            throw std::logic_error(kErrReboot);
        }
    }
    TraceLine(kTraceNotify, L"%s: SUCCESS", kOpReboot);
}

} // namespace hotfixer
