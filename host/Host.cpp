// The host's object model, properties, heap, messages, registrations and
// plug-in modules.
#include "host/HostInternal.h"

#include "common/UniqueHandle.h"
#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PropertyIds.h"

#include <algorithm>
#include <cstring>

namespace zev::host {

using namespace zev::frame;

namespace {

Host* g_current = nullptr;

/// The identifier of the root object's own interface (not one a plug-in can
/// create: the root exists once).
constexpr std::uint32_t kIidRoot = 0;

bool IsZeroRecord(const ImportRecord& r) {
    return r.address == nullptr && r.pluginId == 0 && r.functionId == 0;
}

HMODULE ModuleOf(const void* address) {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         static_cast<LPCWSTR>(address), &module);
    return module;
}

PluginEntryFn EntryOf(HMODULE module) {
    auto* base = reinterpret_cast<unsigned char*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->OptionalHeader.AddressOfEntryPoint == 0)
        return nullptr;
    return reinterpret_cast<PluginEntryFn>(base + nt->OptionalHeader.AddressOfEntryPoint);
}

} // namespace

struct Host::InterfaceEntry {
    Registration reg;
    HMODULE owner;
};

struct PluginModule {
    UniqueModule module;
    PluginEntryFn entry = nullptr;
};

AnyFn InternalOf(const Registration& reg, std::uint32_t slot) {
    if (!reg.internalTable || slot == 0 || slot > reg.internalCount)
        return nullptr;
    return reg.internalTable[slot - 1];
}

Host::Host() {
    g_current = this;
    RegisterBuiltIns();
    PublishBuiltIns();
    hOBJ root = nullptr;
    Create(nullptr, &root, kIidRoot, kPidKernel);
    m_root = root;
    if (ObjectInfo* info = Find(m_root))
        info->completed = true;
}

Host::~Host() {
    UnloadPlugins();
    if (m_root)
        Close(m_root);
    std::lock_guard lock(m_heapLock);
    for (auto& [block, size] : m_blocks)
        ::HeapFree(::GetProcessHeap(), 0, block);
    g_current = nullptr;
}

Host* Host::Current() {
    return g_current;
}

// ---- registrations ------------------------------------------------------------

void Host::RegisterBuiltIns() {
    RegisterInterface(RootRegistration());
    for (const Registration& r : ServiceRegistrations())
        RegisterInterface(r);
    m_registrationLog.clear(); // the log shows what plug-ins registered
}

void Host::PublishBuiltIns() {
    for (const BuiltInExport& e : ComponentExports())
        m_exports[{e.pid, e.fid}] = {e.function, nullptr};
}

Result Host::RegisterInterface(const Registration& r) {
    m_registrationLog.push_back(r);
    if (auto it = m_failRegistration.find(r.iid); it != m_failRegistration.end()) {
        const Result code = it->second;
        m_failRegistration.erase(it);
        return code;
    }
    if (r.iid != kIidRoot &&
        (r.pid == 0 || (r.methodCount && !r.methodTable) || (r.propertyCount && !r.properties) ||
         (r.internalCount && !r.internalTable)))
        return errPARAMETER_INVALID;
    for (const auto& e : m_interfaces)
        if (e->reg.iid == r.iid && e->reg.pid == r.pid && e->reg.subtype == r.subtype)
            return errOBJECT_ALREADY_EXISTS;
    const void* anchor = r.methodTable ? static_cast<const void*>(r.methodTable)
                                       : static_cast<const void*>(r.properties);
    m_interfaces.push_back(std::make_unique<InterfaceEntry>(InterfaceEntry{r, ModuleOf(anchor)}));
    return errOK;
}

Host::InterfaceEntry* Host::FindInterface(std::uint32_t iid, std::uint32_t pid) const {
    for (const auto& e : m_interfaces)
        if (e->reg.iid == iid && (pid == 0 || e->reg.pid == pid))
            return e.get();
    return nullptr;
}

// ---- exports and imports ------------------------------------------------------

bool Host::ComponentPresent(std::uint64_t pid) const {
    if (pid == kPidDirectRead && m_directMode == DirectReadMode::Absent)
        return false;
    for (const auto& [key, entry] : m_exports)
        if (key.first == pid)
            return true;
    return false;
}

void Host::WithholdExport(std::uint32_t pid, std::uint32_t fid) {
    m_withheld.emplace_back(pid, fid);
}

void* Host::LookupExport(std::uint32_t pid, std::uint32_t fid) const {
    if (!ComponentPresent(pid))
        return nullptr;
    const std::pair<std::uint64_t, std::uint64_t> key{pid, fid};
    if (std::find(m_withheld.begin(), m_withheld.end(), key) != m_withheld.end())
        return nullptr;
    auto it = m_exports.find(key);
    return it == m_exports.end() ? nullptr : it->second.function;
}

Result Host::PublishExports(const ImportRecord* table, std::uint32_t pid) {
    if (!table)
        return errPARAMETER_INVALID;
    for (const ImportRecord* r = table; !IsZeroRecord(*r); ++r) {
        if (!r->address || r->pluginId != pid)
            continue; // a record without a function or of another plug-in offers nothing
        m_exports[{r->pluginId, r->functionId}] = {r->address, ModuleOf(r->address)};
    }
    return errOK;
}

Result Host::BindImports(ImportRecord* table, std::uint32_t pid, const char* name) {
    if (!table)
        return errPARAMETER_INVALID;
    bool complete = true;
    for (ImportRecord* r = table; !IsZeroRecord(*r); ++r) {
        if (!r->address)
            continue;
        if (!ComponentPresent(r->pluginId))
            complete = false;
        *static_cast<void**>(r->address) = LookupExport(static_cast<std::uint32_t>(r->pluginId),
                                                        static_cast<std::uint32_t>(r->functionId));
    }
    if (!complete) {
        for (ImportRecord* r = table; !IsZeroRecord(*r); ++r)
            if (r->address)
                *static_cast<void**>(r->address) = nullptr;
        return errFUNCTION_NOT_FOUND;
    }
    m_bindings.push_back({table, pid, name ? name : "", ModuleOf(table)});
    return errOK;
}

Result Host::ReleaseImports(ImportRecord* table, std::uint32_t pid) {
    auto it = std::find_if(m_bindings.begin(), m_bindings.end(),
                           [&](const Binding& b) { return b.table == table && b.pid == pid; });
    if (it == m_bindings.end())
        return errNOT_FOUND;
    for (ImportRecord* r = table; !IsZeroRecord(*r); ++r)
        if (r->address)
            *static_cast<void**>(r->address) = nullptr;
    m_bindings.erase(it);
    return errOK;
}

std::vector<std::string> Host::BoundTables() const {
    std::vector<std::string> names;
    for (const Binding& b : m_bindings)
        names.push_back(b.name);
    return names;
}

// ---- plug-in modules ----------------------------------------------------------

Host::LoadOutcome Host::LoadPlugin(const std::wstring& path) {
    LoadOutcome outcome;
    auto plugin = std::make_unique<PluginModule>();
    plugin->module.reset(::LoadLibraryW(path.c_str()));
    if (!plugin->module) {
        outcome.windowsError = ::GetLastError();
        return outcome;
    }
    plugin->entry = EntryOf(plugin->module.get());
    m_modules.push_back(std::move(plugin));
    outcome.returned = CallEntry(kReasonLoad, &outcome.result);
    return outcome;
}

int Host::CallEntry(unsigned long reason, Result* result) {
    if (m_modules.empty() || !m_modules.back()->entry)
        return 0;
    return m_modules.back()->entry(m_root, reason, result);
}

void Host::DropModule(HMODULE module) {
    std::erase_if(m_interfaces, [&](const auto& e) { return e->owner == module; });
    std::erase_if(m_exports, [&](const auto& e) { return e.second.owner == module; });
    std::erase_if(m_bindings, [&](const Binding& b) { return b.owner == module; });
}

void Host::UnloadPlugins() {
    if (m_modules.empty())
        return;
    if (ObjectInfo* root = Find(m_root))
        while (!root->children.empty())
            Close(root->children.back());
    while (!m_modules.empty()) {
        PluginModule& plugin = *m_modules.back();
        if (plugin.entry) {
            Result ignored = 0;
            plugin.entry(m_root, kReasonReleaseBindings, &ignored);
            plugin.entry(m_root, kReasonUnload, &ignored);
        }
        DropModule(plugin.module.get());
        m_modules.pop_back();
    }
}

// ---- objects ------------------------------------------------------------------

ObjectInfo* Host::Find(hOBJ obj) const {
    if (!obj)
        return nullptr;
    auto it = m_objects.find(obj);
    return it == m_objects.end() ? nullptr : it->second.get();
}

bool Host::IsAlive(hOBJ obj) const {
    return Find(obj) != nullptr;
}

Result Host::Create(hOBJ parent, hOBJ* out, std::uint32_t iid, std::uint32_t pid,
                    std::uint32_t subtype) {
    (void)subtype;
    if (!out)
        return errPARAMETER_INVALID;
    *out = nullptr;
    ObjectInfo* parentInfo = Find(parent);
    if (parent && !parentInfo)
        return errPARAMETER_INVALID;
    if ((!parent || iid == kIidRoot) && m_root)
        return errPARAMETER_INVALID; // the root exists once

    InterfaceEntry* iface = FindInterface(iid, pid);
    if (!iface)
        return errNOT_FOUND;
    const bool serviceObject = iid == kIidLock || iid == kIidToken || iid == kIidString;
    if (serviceObject && m_refuseServiceChildren && parent != m_root)
        return errOBJECT_INCOMPATIBLE;
    const Registration& reg = iface->reg;

    auto info = std::make_unique<ObjectInfo>();
    const std::size_t total = kObjectHeaderSize + reg.dataSize;
    info->storage.reset(new (std::nothrow) unsigned char[total]());
    if (!info->storage)
        return errNOT_ENOUGH_MEMORY;
    auto* obj = reinterpret_cast<hOBJ>(info->storage.get());
    obj->methods = reg.methodTable;
    obj->sys = &SystemTableInstance();
    obj->hostWord = info.get();
    info->host = this;
    info->reg = &iface->reg;
    info->self = obj;
    info->parent = parent;
    m_objects[obj] = std::move(info);
    if (parentInfo)
        parentInfo->children.push_back(obj);

    if (auto construct = reinterpret_cast<ObjectConstructFn>(InternalOf(reg, kSlotObjectConstruct)))
        construct(obj, 1);
    obj->sys = &SystemTableInstance(); // the host's table stands behind the object from now on
    if (auto init = reinterpret_cast<ObjectOperationFn>(InternalOf(reg, kSlotObjectInit))) {
        const Result r = init(obj);
        if (Failed(r)) {
            if (parentInfo)
                std::erase(parentInfo->children, obj);
            m_objects.erase(obj);
            return r;
        }
    }
    *out = obj;
    return errOK;
}

Result Host::CreateDone(hOBJ obj) {
    ObjectInfo* info = Find(obj);
    if (!info)
        return errPARAMETER_INVALID;
    if (info->completed)
        return errOK;
    if (auto done =
            reinterpret_cast<ObjectOperationFn>(InternalOf(*info->reg, kSlotObjectInitDone))) {
        const Result r = done(obj);
        if (Failed(r))
            return r;
    }
    info->completed = true;
    return errOK;
}

Result Host::CreateQuick(hOBJ parent, hOBJ* out, std::uint32_t iid, std::uint32_t pid,
                         std::uint32_t subtype) {
    if (!out)
        return errPARAMETER_INVALID;
    *out = nullptr;
    hOBJ obj = nullptr;
    Result r = Create(parent, &obj, iid, pid, subtype);
    if (Failed(r))
        return r;
    r = CreateDone(obj);
    if (Failed(r)) {
        Close(obj);
        return r;
    }
    *out = obj;
    return r;
}

void Host::CloseChildren(hOBJ obj) {
    ObjectInfo* info = Find(obj);
    while (info && !info->children.empty())
        Close(info->children.back());
}

Result Host::Close(hOBJ obj) {
    ObjectInfo* info = Find(obj);
    if (!info)
        return errPARAMETER_INVALID;
    CloseChildren(obj);
    Result r = errOK;
    if (auto close = reinterpret_cast<ObjectOperationFn>(InternalOf(*info->reg, kSlotObjectClose)))
        r = close(obj);
    if (ObjectInfo* parent = Find(info->parent))
        std::erase(parent->children, obj);
    if (obj == m_root)
        m_root = nullptr;
    m_objects.erase(obj);
    return r;
}

AnyFn Host::MethodOf(hOBJ obj, std::uint32_t slot) const {
    const ObjectInfo* info = Find(obj);
    if (!info || slot == 0 || slot > info->reg->methodCount || !info->reg->methodTable)
        return nullptr;
    return info->reg->methodTable[slot - 1];
}

// ---- properties ---------------------------------------------------------------

const PropertyRow* Host::FindRow(const ObjectInfo& info, std::uint32_t id) const {
    for (std::uint32_t i = 0; i < info.reg->propertyCount; ++i)
        if (info.reg->properties[i].id == id && id != 0)
            return &info.reg->properties[i];
    return nullptr;
}

namespace {

Result CopyOut(const void* value, std::uint32_t valueSize, std::uint32_t* count, void* buffer,
               std::uint32_t size) {
    if (count)
        *count = valueSize;
    if (!buffer)
        return errOK;
    if (size < valueSize)
        return errBUFFER_TOO_SMALL;
    std::memcpy(buffer, value, valueSize);
    return errOK;
}

} // namespace

Result Host::HostProperty(const ObjectInfo& info, std::uint32_t id, std::uint32_t* count,
                          void* buffer, std::uint32_t size, bool* served) {
    *served = true;
    std::uint32_t value = 0;
    switch (id) {
    case kPropInterfaceId:
        value = info.reg->iid;
        break;
    case kPropPluginId:
        value = info.reg->pid;
        break;
    case kPropCreationCompleted:
        value = info.completed ? 1 : 0;
        break;
    case kPropTraceLevelPtr:
        if (info.self == m_root) {
            std::uint32_t* level = &m_traceLevel;
            return CopyOut(&level, sizeof level, count, buffer, size);
        }
        [[fallthrough]];
    default:
        *served = false;
        return errOK;
    }
    return CopyOut(&value, sizeof value, count, buffer, size);
}

Result Host::FindProperty(hOBJ obj, std::uint32_t* count, std::uint32_t id, ObjectInfo** info,
                          const PropertyRow** row) const {
    if (count)
        *count = 0;
    *info = Find(obj);
    if (!*info)
        return errPARAMETER_INVALID;
    *row = FindRow(**info, id);
    return errOK;
}

Result Host::Get(hOBJ obj, std::uint32_t* count, std::uint32_t id, void* buffer,
                 std::uint32_t size) {
    ObjectInfo* info = nullptr;
    const PropertyRow* row = nullptr;
    if (const Result r = FindProperty(obj, count, id, &info, &row); Failed(r))
        return r;
    if (!row) {
        bool served = false;
        const Result r = HostProperty(*info, id, count, buffer, size, &served);
        return served ? r : errPROPERTY_NOT_IMPLEMENTED;
    }
    std::uint32_t local = 0;
    std::uint32_t* out = count ? count : &local;
    if (row->getter)
        return row->getter(obj, out, id, buffer, size);
    const auto rowSize = static_cast<std::uint32_t>(row->size);
    if (row->flags & kPropFlagConst) {
        const void* value = (row->flags & kPropFlagInMemory)
                                ? reinterpret_cast<const void*>(row->value)
                                : static_cast<const void*>(&row->value);
        return CopyOut(value, rowSize, out, buffer, size);
    }
    if (row->flags & kPropFlagReadable) {
        if (row->value + row->size > info->reg->dataSize)
            return errUNEXPECTED;
        return CopyOut(DataOf<unsigned char>(obj) + row->value, rowSize, out, buffer, size);
    }
    return errPROPERTY_NOT_IMPLEMENTED;
}

Result Host::Set(hOBJ obj, std::uint32_t* count, std::uint32_t id, const void* buffer,
                 std::uint32_t size) {
    ObjectInfo* info = nullptr;
    const PropertyRow* row = nullptr;
    if (const Result r = FindProperty(obj, count, id, &info, &row); Failed(r))
        return r;
    if (!row) {
        bool served = false;
        std::uint32_t ignored = 0;
        HostProperty(*info, id, &ignored, nullptr, 0, &served);
        return served ? errACCESS_DENIED : errPROPERTY_NOT_IMPLEMENTED;
    }
    std::uint32_t local = 0;
    std::uint32_t* out = count ? count : &local;
    if (row->setter)
        return row->setter(obj, out, id, buffer, size);
    if (!(row->flags & kPropFlagConst) && (row->flags & kPropFlagWritable)) {
        if (!buffer)
            return errPARAMETER_INVALID;
        if (size > row->size)
            return errBUFFER_TOO_SMALL;
        if (row->value + row->size > info->reg->dataSize)
            return errUNEXPECTED;
        unsigned char* field = DataOf<unsigned char>(obj) + row->value;
        std::memset(field, 0, static_cast<std::size_t>(row->size));
        std::memcpy(field, buffer, size);
        *out = size;
        return errOK;
    }
    return errACCESS_DENIED;
}

std::int32_t Host::NativeCodePage(hOBJ obj, std::uint32_t id) {
    auto read = [&](std::uint32_t cpId) -> std::optional<std::int32_t> {
        std::int32_t cp = 0;
        std::uint32_t count = 0;
        if (Succeeded(Get(obj, &count, cpId, &cp, sizeof cp)) && count == sizeof cp)
            return cp;
        return std::nullopt;
    };
    if (auto cp = read(CodePagePropertyOf(id)))
        return *cp;
    // Constant texts without a code page of their own (descriptions) are 8-bit.
    const ObjectInfo* info = Find(obj);
    const PropertyRow* row = info ? FindRow(*info, id) : nullptr;
    if (row && !row->getter && (row->flags & kPropFlagConst))
        return kCodePageSystem;
    return read(kPropCodePage).value_or(kCodePageUtf16);
}

Result Host::GetText(hOBJ obj, std::uint32_t* count, std::uint32_t id, void* buffer,
                     std::uint32_t size, std::int32_t codePage) {
    std::uint32_t local = 0;
    std::uint32_t* out = count ? count : &local;
    *out = 0;
    std::uint32_t needed = 0;
    Result r = Get(obj, &needed, id, nullptr, 0);
    if (Failed(r))
        return r;
    std::string raw(needed, '\0');
    if (needed) {
        r = Get(obj, &needed, id, raw.data(), static_cast<std::uint32_t>(raw.size()));
        if (Failed(r))
            return r;
        raw.resize(std::min<std::size_t>(needed, raw.size()));
    }
    const std::int32_t native = NativeCodePage(obj, id);
    const std::size_t unit = TerminatorSize(native);
    raw.resize(raw.size() - raw.size() % unit);
    while (raw.size() >= unit && raw.compare(raw.size() - unit, unit, std::string(unit, '\0')) == 0)
        raw.resize(raw.size() - unit);
    std::wstring wide;
    std::string converted;
    if (!DecodeText(raw.data(), raw.size(), native, wide) || !EncodeText(wide, codePage, converted))
        return errUNEXPECTED;
    converted.append(TerminatorSize(codePage), '\0');
    return CopyOut(converted.data(), static_cast<std::uint32_t>(converted.size()), out, buffer,
                   size);
}

Result Host::SetText(hOBJ obj, std::uint32_t* count, std::uint32_t id, const void* text,
                     std::uint32_t size, std::int32_t codePage) {
    if (count)
        *count = 0;
    if (!text)
        return errPARAMETER_INVALID;
    const std::size_t bytes = size ? size : MeasureText(text, codePage);
    std::wstring wide;
    if (!DecodeText(text, bytes, codePage, wide))
        return errPARAMETER_INVALID;
    while (!wide.empty() && wide.back() == L'\0')
        wide.pop_back();
    std::string converted;
    if (!EncodeText(wide, NativeCodePage(obj, id), converted))
        return errUNEXPECTED;
    converted.append(TerminatorSize(NativeCodePage(obj, id)), '\0');
    return Set(obj, count, id, converted.data(), static_cast<std::uint32_t>(converted.size()));
}

std::optional<std::uint32_t> Host::GetDWord(hOBJ obj, std::uint32_t id) {
    std::uint32_t count = 0;
    std::uint64_t value = 0;
    if (Failed(Get(obj, &count, id, &value, sizeof value)) || count > sizeof value)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

Result Host::SetDWord(hOBJ obj, std::uint32_t id, std::uint32_t value) {
    std::uint32_t count = 0;
    return Set(obj, &count, id, &value, sizeof value);
}

std::optional<std::wstring> Host::GetWide(hOBJ obj, std::uint32_t id) {
    std::uint32_t count = 0;
    if (Failed(GetText(obj, &count, id, nullptr, 0, kCodePageUtf16)))
        return std::nullopt;
    std::wstring text(count / sizeof(wchar_t), L'\0');
    if (Failed(GetText(obj, &count, id, text.data(), count, kCodePageUtf16)))
        return std::nullopt;
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return text;
}

Result Host::SetWide(hOBJ obj, std::uint32_t id, const std::wstring& text) {
    std::uint32_t count = 0;
    return SetText(obj, &count, id, text.c_str(),
                   static_cast<std::uint32_t>((text.size() + 1) * sizeof(wchar_t)), kCodePageUtf16);
}

// ---- heap -----------------------------------------------------------------------

Result Host::Alloc(void** out, std::size_t size) {
    if (!out)
        return errPARAMETER_INVALID;
    std::lock_guard lock(m_heapLock);
    if (m_failAllocationIn && --m_failAllocationIn == 0)
        return errNOT_ENOUGH_MEMORY;
    void* block = ::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, size ? size : 1);
    if (!block)
        return errNOT_ENOUGH_MEMORY;
    m_blocks[block] = size;
    m_liveBytes += size;
    *out = block;
    return errOK;
}

Result Host::Realloc(void** out, void* old, std::size_t size) {
    if (!out)
        return errPARAMETER_INVALID;
    if (!old)
        return Alloc(out, size);
    std::lock_guard lock(m_heapLock);
    auto it = m_blocks.find(old);
    if (it == m_blocks.end()) {
        ++m_badFrees;
        return errPARAMETER_INVALID;
    }
    if (m_failAllocationIn && --m_failAllocationIn == 0)
        return errNOT_ENOUGH_MEMORY;
    void* block = ::HeapReAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, old, size ? size : 1);
    if (!block)
        return errNOT_ENOUGH_MEMORY;
    m_liveBytes = m_liveBytes - it->second + size;
    m_blocks.erase(it);
    m_blocks[block] = size;
    *out = block;
    return errOK;
}

Result Host::Free(void* block) {
    if (!block)
        return errOK;
    std::lock_guard lock(m_heapLock);
    auto it = m_blocks.find(block);
    if (it == m_blocks.end()) {
        ++m_badFrees;
        return errPARAMETER_INVALID;
    }
    m_liveBytes -= it->second;
    m_blocks.erase(it);
    ::HeapFree(::GetProcessHeap(), 0, block);
    return errOK;
}

std::size_t Host::LiveBlocks() const {
    std::lock_guard lock(m_heapLock);
    return m_blocks.size();
}

std::size_t Host::LiveBytes() const {
    std::lock_guard lock(m_heapLock);
    return m_liveBytes;
}

std::size_t Host::BadFrees() const {
    std::lock_guard lock(m_heapLock);
    return m_badFrees;
}

void Host::FailAllocation(unsigned nth) {
    std::lock_guard lock(m_heapLock);
    m_failAllocationIn = nth;
}

// ---- messages and tracing -----------------------------------------------------

Result Host::SendMessage(hOBJ obj, std::uint32_t msgClass, std::uint32_t msgId, hOBJ context,
                         void* buffer, std::uint32_t* size) {
    SentMessage message{obj, msgClass, msgId, context, {}};
    if (buffer && size)
        message.data.assign(static_cast<unsigned char*>(buffer),
                            static_cast<unsigned char*>(buffer) + *size);
    {
        std::lock_guard lock(m_logLock);
        m_messages.push_back(message);
    }
    if (!m_messageHandler)
        return errNOT_FOUND;
    return m_messageHandler(message, buffer, size);
}

void Host::AddTrace(hOBJ obj, std::uint32_t level, std::string text, bool tagged) {
    if (level > m_traceLevel)
        return;
    std::lock_guard lock(m_logLock);
    m_traces.push_back({obj, level, std::move(text), tagged});
    if (m_traceSink)
        m_traceSink(m_traces.back());
}

} // namespace zev::host
