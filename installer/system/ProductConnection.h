// The installer's connection to the product service "grd.exe": it makes
// sure the service runs (starting it when needed), loads the framework's
// proxy/stub module through the remote-access library and holds a proxy to
// the product's TaskManager object, through which it registers the
// installer's process and asks for a restart of the operating system.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "installer/system/FrameworkMessages.h"
#include "installer/system/RemoteApi.h"

namespace hotfixer {

/// The loaded remote-access library "vlremote.dll" and the framework root
/// it gives. Calls through the API table go through the members below,
/// which answer errREMOTE_NOT_LOADED for an entry the library left empty.
class RemoteLibrary {
public:
    RemoteLibrary() = default;
    /// Deinitializes the library when it was loaded. The module itself
    /// stays loaded for the rest of the process.
    ~RemoteLibrary();
    RemoteLibrary(const RemoteLibrary&) = delete;
    RemoteLibrary& operator=(const RemoteLibrary&) = delete;

    /// Loads "vlremote.dll" from the folder of `installer`, else by name
    /// (the normal search, the current folder included), fills the API
    /// table, initializes the library and gets the root. The outcome is
    /// LastError(); nothing is raised.
    void Load(HMODULE installer);

    velora::tERROR LastError() const { return m_lastError; }
    velora::hROOT Root() const { return m_root; }
    /// The root of the last library loaded in this process (null before).
    static velora::hROOT ProcessRoot();

    velora::tERROR StartProcess(const char* executable, const char* arguments) const;
    velora::tERROR GetProxy(const char* objectName, velora::hOBJECT* proxy) const;
    velora::tERROR ReleaseProxy(velora::hOBJECT proxy) const;
    velora::tERROR CheckProxy(velora::hOBJECT proxy) const;
    /// LoadProxyStub on the root; errREMOTE_NOT_LOADED without a root.
    velora::tERROR LoadProxyStub(const char* name) const;

private:
    velora::RemoteApi m_api{};
    /// Not owned: the library is never unloaded once loaded, since
    /// product code may still run in it.
    HMODULE m_module = nullptr;
    velora::hROOT m_root = nullptr;
    velora::tERROR m_lastError = velora::errREMOTE_NOT_LOADED;
};

/// The proxy to the product's "TaskManager" object. The object name lives
/// in a 12-byte block of the root's heap, as the framework expects.
class TaskManagerProxy {
public:
    explicit TaskManagerProxy(const RemoteLibrary& library);
    ~TaskManagerProxy();
    TaskManagerProxy(const TaskManagerProxy&) = delete;
    TaskManagerProxy& operator=(const TaskManagerProxy&) = delete;

    /// Releases a held proxy and asks for a new one.
    bool Attach();
    /// Keeps a proxy that still answers, otherwise asks for a new one.
    bool EnsureAttached();
    velora::hOBJECT Get() const { return m_proxy; }

    /// sysSendMsg on the proxy; errREMOTE_NOT_LOADED without one.
    velora::tERROR SendMsg(velora::MessageCode code, void* buffer, velora::tDWORD size) const;
    /// The TaskManager's stop request; errREMOTE_NOT_LOADED without a proxy.
    velora::tERROR StopRequest() const;

private:
    velora::tERROR Acquire();
    void Release();

    const RemoteLibrary& m_library;
    char* m_name = nullptr; ///< block on the root's heap
    velora::hOBJECT m_proxy = nullptr;
};

/// The record that registers a process with the product's file-system
/// component: type 0x229000, 12 bytes.
struct cFSSyncRequest : velora::cSerializable {
    velora::tDWORD base = 0;
    velora::tDWORD processId = 0;

    cFSSyncRequest();
    static const velora::cSerializableMethods kMethods;
};

class CUsingGRD {
public:
    /// Pauses of the connection go through this; ::Sleep by default.
    using SleepFunction = std::function<void(DWORD ms)>;

    static constexpr int kConnectAttempts = 12;
    static constexpr DWORD kRetryPauseMs = 5000;
    static constexpr int kStartRequests = 12;
    static constexpr int kWaitChecks = 30;
    static constexpr DWORD kWaitPauseMs = 1000;

    /// Connects to the product service (up to kConnectAttempts attempts).
    /// Raises SystemError when the product folder cannot be read or made
    /// current, and a std::logic_error with the last attempt's text when
    /// every attempt failed.
    explicit CUsingGRD(HMODULE installer, SleepFunction sleep = {});
    /// Stops the service when this connection started it, then releases
    /// the proxy and the library.
    ~CUsingGRD();
    CUsingGRD(const CUsingGRD&) = delete;
    CUsingGRD& operator=(const CUsingGRD&) = delete;

    /// Registers this process with the product; a refusal raises a
    /// std::logic_error. Without a connection only traces.
    void RegisterSelfInvisible();
    /// Asks the product for a restart of the operating system and tells it
    /// that its state changed; a refusal raises a std::logic_error and the
    /// second message is then not sent.
    void SetStatusNeedRebootOS();

    /// True when the service process shows within kWaitChecks checks.
    bool WaitGRD();
    /// True when a process whose executable is exactly "grd.exe" runs.
    static bool IsGRDRunning();
    /// Asks the service to stop when this connection started it or an
    /// attempt is failing.
    void StopGRDIfNeed();

    bool StartedService() const { return m_startedByUs; }

private:
    void Attempt();

    SleepFunction m_sleep;
    std::unique_ptr<RemoteLibrary> m_library;
    std::unique_ptr<TaskManagerProxy> m_proxy;
    bool m_startedByUs = false;
    bool m_failing = false;
};

} // namespace hotfixer
