// An in-process component framework: the services that plug-ins of the
// framework rely on (object model, properties, heap, messages, service
// objects, interface registration, export and import tables, tracing, text
// conversion, date-time and platform functions, the direct-read driver).
//
// One Host exists at a time (Host::Current()); it owns the root object and
// every object created under it. Objects are driven from one thread at a
// time; the heap accounting is safe from any thread.
#pragma once

#include "common/UniqueHandle.h"
#include "plugin/frame/FrameworkApi.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zev::host {

using frame::hOBJ;
using frame::Result;

/// One line written through the trace formatter.
struct TraceLine {
    hOBJ object;
    std::uint32_t level;
    std::string text; ///< UTF-8, without the tag of tagged lines
    bool tagged;
};

/// One message sent with sysSendMsg.
struct SentMessage {
    hOBJ object;
    std::uint32_t msgClass;
    std::uint32_t msgId;
    hOBJ context;
    std::vector<unsigned char> data;
};
/// Answers a message; the default answer is errNOT_FOUND (nobody answered).
using MessageHandler = std::function<Result(const SentMessage&, void* buffer, std::uint32_t* size)>;

/// The values an interface was registered with.
struct Registration {
    std::uint32_t iid, pid, subtype, version, value;
    const frame::AnyFn* internalTable;
    std::uint32_t internalCount;
    const frame::AnyFn* methodTable;
    std::uint32_t methodCount;
    const frame::PropertyRow* properties;
    std::uint32_t propertyCount;
    std::uint32_t dataSize, flags;
};

enum class DirectReadMode {
    Available, ///< the driver serves its functions with ordinary reads
    Absent,    ///< the driver component is not present: its table cannot be bound
    Failing,   ///< present, but every call answers the configured failure
};

struct ObjectInfo;
struct PluginModule;

class Host {
public:
    Host();
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    /// The living host, or null.
    static Host* Current();
    hOBJ Root() const { return m_root; }

    // ---- plug-in modules -------------------------------------------------
    struct LoadOutcome {
        int returned = 0;       ///< the entry's return value (1 success)
        Result result = 0;      ///< the result code it filled
        DWORD windowsError = 0; ///< LoadLibrary's error when the module did not load
    };
    /// Loads a plug-in module and calls its entry with reason 100. The module
    /// stays loaded (also after a failed entry) until UnloadPlugins.
    LoadOutcome LoadPlugin(const std::wstring& path);
    /// Calls the entry of the last loaded module with `reason`.
    int CallEntry(unsigned long reason, Result* result);
    /// Closes every object, calls each module with 102 and 101, and frees it.
    void UnloadPlugins();

    // ---- objects ---------------------------------------------------------
    Result Create(hOBJ parent, hOBJ* out, std::uint32_t iid, std::uint32_t pid = 0,
                  std::uint32_t subtype = 0);
    Result CreateDone(hOBJ obj);
    Result CreateQuick(hOBJ parent, hOBJ* out, std::uint32_t iid, std::uint32_t pid = 0,
                       std::uint32_t subtype = 0);
    /// From now on service objects (lock, token, string) can only be created
    /// under the root: elsewhere their creation answers 0x800000D4.
    void RefuseServiceObjectsBelowRoot(bool refuse) { m_refuseServiceChildren = refuse; }
    Result Close(hOBJ obj);
    bool IsAlive(hOBJ obj) const;
    /// Calls method `slot` (1-based) of the object's registered method table.
    template <typename... A> Result CallMethod(hOBJ obj, std::uint32_t slot, A... args) {
        const frame::AnyFn fn = MethodOf(obj, slot);
        if (!fn)
            return frame::errPROPERTY_NOT_IMPLEMENTED;
        return reinterpret_cast<Result (*)(hOBJ, A...)>(fn)(obj, args...);
    }
    frame::AnyFn MethodOf(hOBJ obj, std::uint32_t slot) const;

    // ---- properties (the system table's operations) ----------------------
    Result Get(hOBJ obj, std::uint32_t* count, std::uint32_t id, void* buffer, std::uint32_t size);
    Result Set(hOBJ obj, std::uint32_t* count, std::uint32_t id, const void* buffer,
               std::uint32_t size);
    Result GetText(hOBJ obj, std::uint32_t* count, std::uint32_t id, void* buffer,
                   std::uint32_t size, std::int32_t codePage);
    Result SetText(hOBJ obj, std::uint32_t* count, std::uint32_t id, const void* text,
                   std::uint32_t size, std::int32_t codePage);
    /// Conveniences for tests and tools.
    std::optional<std::uint32_t> GetDWord(hOBJ obj, std::uint32_t id);
    Result SetDWord(hOBJ obj, std::uint32_t id, std::uint32_t value);
    std::optional<std::wstring> GetWide(hOBJ obj, std::uint32_t id);
    Result SetWide(hOBJ obj, std::uint32_t id, const std::wstring& text);

    // ---- heap ------------------------------------------------------------
    Result Alloc(void** out, std::size_t size);
    Result Realloc(void** out, void* old, std::size_t size);
    Result Free(void* block);
    std::size_t LiveBlocks() const;
    std::size_t LiveBytes() const;
    /// Frees of blocks the heap does not know (double or foreign frees).
    std::size_t BadFrees() const;
    /// The `nth` allocation from now (1: the next) fails with
    /// errNOT_ENOUGH_MEMORY; 0 switches the failure off.
    void FailAllocation(unsigned nth);

    // ---- messages --------------------------------------------------------
    Result SendMessage(hOBJ obj, std::uint32_t msgClass, std::uint32_t msgId, hOBJ context,
                       void* buffer, std::uint32_t* size);
    const std::vector<SentMessage>& Messages() const { return m_messages; }
    void ClearMessages() {
        std::lock_guard lock(m_logLock);
        m_messages.clear();
    }
    void SetMessageHandler(MessageHandler handler) { m_messageHandler = std::move(handler); }

    // ---- tracing ---------------------------------------------------------
    void AddTrace(hOBJ obj, std::uint32_t level, std::string text, bool tagged);
    const std::vector<TraceLine>& Traces() const { return m_traces; }
    void ClearTraces() {
        std::lock_guard lock(m_logLock);
        m_traces.clear();
    }
    /// Also hands every line to `sink` (for tools that print the trace).
    void SetTraceSink(std::function<void(const TraceLine&)> sink) { m_traceSink = std::move(sink); }
    /// Lines above this level are dropped; the root publishes its address.
    std::uint32_t& TraceLevel() { return m_traceLevel; }

    // ---- registrations, exports, imports ---------------------------------
    Result RegisterInterface(const Registration& r);
    const std::vector<Registration>& Registrations() const { return m_registrationLog; }
    /// The next registration of `iid` fails with `code`.
    void FailRegistration(std::uint32_t iid, Result code) { m_failRegistration[iid] = code; }
    Result PublishExports(const frame::ImportRecord* table, std::uint32_t pid);
    Result BindImports(frame::ImportRecord* table, std::uint32_t pid, const char* name);
    Result ReleaseImports(frame::ImportRecord* table, std::uint32_t pid);
    void* LookupExport(std::uint32_t pid, std::uint32_t fid) const;
    /// Names of the tables bound now.
    std::vector<std::string> BoundTables() const;
    /// Keeps one export of a present component out of lookups and bindings.
    void WithholdExport(std::uint32_t pid, std::uint32_t fid);

    // ---- direct-read driver ----------------------------------------------
    void SetDirectRead(DirectReadMode mode, Result failure = frame::errOBJECT_READ);
    DirectReadMode DirectRead() const { return m_directMode; }
    Result DirectFailure() const { return m_directFailure; }
    /// Handles of the driver that are open now.
    std::size_t DirectHandlesOpen() const;

    // internal, for the host's own translation units
    ObjectInfo* Find(hOBJ obj) const;
    std::uint64_t DirectOpen(UniqueFile file);
    HANDLE DirectHandle(std::uint64_t handle) const;
    bool DirectClose(std::uint64_t handle);

private:
    struct InterfaceEntry;
    struct Binding {
        frame::ImportRecord* table;
        std::uint32_t pid;
        std::string name;
        HMODULE owner;
    };

    InterfaceEntry* FindInterface(std::uint32_t iid, std::uint32_t pid) const;
    void RegisterBuiltIns();
    void PublishBuiltIns();
    bool ComponentPresent(std::uint64_t pid) const;
    void DropModule(HMODULE module);
    void CloseChildren(hOBJ obj);
    const frame::PropertyRow* FindRow(const ObjectInfo& info, std::uint32_t id) const;
    /// Clears the count and finds the object and its row (null when the
    /// interface has none).
    Result FindProperty(hOBJ obj, std::uint32_t* count, std::uint32_t id, ObjectInfo** info,
                        const frame::PropertyRow** row) const;
    Result HostProperty(const ObjectInfo& info, std::uint32_t id, std::uint32_t* count,
                        void* buffer, std::uint32_t size, bool* served);
    std::int32_t NativeCodePage(hOBJ obj, std::uint32_t id);

    hOBJ m_root = nullptr;
    std::map<hOBJ, std::unique_ptr<ObjectInfo>> m_objects;
    std::vector<std::unique_ptr<InterfaceEntry>> m_interfaces;
    std::vector<Registration> m_registrationLog;
    std::map<std::uint32_t, Result> m_failRegistration;
    struct ExportEntry {
        void* function;
        HMODULE owner;
    };
    std::map<std::pair<std::uint64_t, std::uint64_t>, ExportEntry> m_exports;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> m_withheld;
    std::vector<Binding> m_bindings;
    std::vector<std::unique_ptr<PluginModule>> m_modules;

    mutable std::mutex m_heapLock;
    std::map<void*, std::size_t> m_blocks;
    std::size_t m_liveBytes = 0;
    std::size_t m_badFrees = 0;
    unsigned m_failAllocationIn = 0;

    bool m_refuseServiceChildren = false;

    /// Guards the trace and message logs, which any thread may write.
    mutable std::recursive_mutex m_logLock;
    std::vector<SentMessage> m_messages;
    MessageHandler m_messageHandler;
    std::vector<TraceLine> m_traces;
    std::function<void(const TraceLine&)> m_traceSink;
    std::uint32_t m_traceLevel = 900;

    DirectReadMode m_directMode = DirectReadMode::Available;
    Result m_directFailure = frame::errOBJECT_READ;
    std::map<std::uint64_t, UniqueFile> m_directHandles;
    std::uint64_t m_nextDirectHandle = 0x100;
};

/// The host's formatter: printf conventions on a narrow format plus "%terr",
/// "%tflags" and "%tenum" (see FrameworkApi.h). Wide texts become UTF-8.
std::string FormatTrace(const char* format, va_list args);
/// "errNAME(0xXXXXXXXX)" for the framework's codes, else "0xXXXXXXXX".
std::string ResultText(Result code);

/// Code-page conversions of the framework's texts (1200 UTF-16, -12 the
/// system's 8-bit code page, other values Windows code pages). Sizes are
/// bytes without terminator.
bool DecodeText(const void* text, std::size_t size, std::int32_t codePage, std::wstring& out);
bool EncodeText(const std::wstring& text, std::int32_t codePage, std::string& out);
/// Bytes of a terminated text in `codePage`, without the terminator.
std::size_t MeasureText(const void* text, std::int32_t codePage);
/// Terminator width of a code page (2 for UTF-16, else 1).
std::size_t TerminatorSize(std::int32_t codePage);

} // namespace zev::host
