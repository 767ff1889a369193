// The system table every object carries and the root object's operations:
// thin forwarders to the Host that owns the object.
#include "host/HostInternal.h"

#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PropertyIds.h"

namespace zev::host {

using namespace zev::frame;

namespace {

Host* HostOf(hOBJ obj) {
    Host* host = Host::Current();
    return host && host->Find(obj) ? host : nullptr;
}

Result CheckState(hOBJ obj, std::uint32_t stateId) {
    Host* host = HostOf(obj);
    if (!host)
        return errPARAMETER_INVALID;
    if (stateId != kPropCreationCompleted)
        return errPROPERTY_NOT_IMPLEMENTED;
    return host->Find(obj)->completed ? 1 : 0;
}

std::uint32_t GetDWordProp(hOBJ obj, std::uint32_t id) {
    Host* host = HostOf(obj);
    return host ? host->GetDWord(obj, id).value_or(0) : 0;
}

std::uint64_t GetQWordProp(hOBJ obj, std::uint32_t id) {
    Host* host = HostOf(obj);
    std::uint64_t value = 0;
    std::uint32_t count = 0;
    if (!host || Failed(host->Get(obj, &count, id, &value, sizeof value)))
        return 0;
    return value;
}

Result SetBoolProp(hOBJ obj, std::uint32_t id, std::uint32_t value) {
    Host* host = HostOf(obj);
    if (!host)
        return errPARAMETER_INVALID;
    const std::uint8_t flag = value ? 1 : 0;
    std::uint32_t count = 0;
    // A flag is written in the width its row declares.
    std::uint32_t size = 0;
    host->Get(obj, &size, id, nullptr, 0);
    if (size == sizeof flag)
        return host->Set(obj, &count, id, &flag, sizeof flag);
    const std::uint32_t wide = flag;
    return host->Set(obj, &count, id, &wide, sizeof wide);
}

Result SetDWordProp(hOBJ obj, std::uint32_t id, std::uint32_t value) {
    Host* host = HostOf(obj);
    return host ? host->SetDWord(obj, id, value) : errPARAMETER_INVALID;
}

hOBJ Parent(hOBJ obj) {
    Host* host = HostOf(obj);
    return host ? host->Find(obj)->parent : nullptr;
}

Result QueryInterface(hOBJ obj, std::uint32_t iid) {
    Host* host = HostOf(obj);
    if (!host)
        return errPARAMETER_INVALID;
    return host->Find(obj)->reg->iid == iid ? errOK : errNOT_FOUND;
}

Result CreateChild(hOBJ parent, hOBJ* out, std::uint32_t iid, std::uint32_t pid,
                   std::uint32_t subtype) {
    Host* host = HostOf(parent);
    return host ? host->Create(parent, out, iid, pid, subtype) : errPARAMETER_INVALID;
}

Result CreateDone(hOBJ obj) {
    Host* host = HostOf(obj);
    return host ? host->CreateDone(obj) : errPARAMETER_INVALID;
}

Result CloseObject(hOBJ obj) {
    Host* host = HostOf(obj);
    return host ? host->Close(obj) : errPARAMETER_INVALID;
}

Result SendMsg(hOBJ obj, std::uint32_t msgClass, std::uint32_t msgId, hOBJ context, void* buffer,
               std::uint32_t* size) {
    Host* host = HostOf(obj);
    return host ? host->SendMessage(obj, msgClass, msgId, context, buffer, size)
                : errPARAMETER_INVALID;
}

Result CreateQuick(hOBJ parent, hOBJ* out, std::uint32_t iid, std::uint32_t pid,
                   std::uint32_t subtype) {
    Host* host = HostOf(parent);
    return host ? host->CreateQuick(parent, out, iid, pid, subtype) : errPARAMETER_INVALID;
}

Result HeapAllocate(hOBJ obj, void** out, std::size_t size) {
    Host* host = HostOf(obj);
    return host ? host->Alloc(out, size) : errPARAMETER_INVALID;
}

Result HeapReallocate(hOBJ obj, void** out, void* old, std::size_t size) {
    Host* host = HostOf(obj);
    return host ? host->Realloc(out, old, size) : errPARAMETER_INVALID;
}

Result HeapRelease(hOBJ obj, void* block) {
    Host* host = HostOf(obj);
    return host ? host->Free(block) : errPARAMETER_INVALID;
}

Result GetStr(hOBJ obj, std::uint32_t* count, std::uint32_t id, void* buffer, std::uint32_t size,
              std::int32_t codePage) {
    Host* host = HostOf(obj);
    return host ? host->GetText(obj, count, id, buffer, size, codePage) : errPARAMETER_INVALID;
}

Result SetStr(hOBJ obj, std::uint32_t* count, std::uint32_t id, const void* text,
              std::uint32_t size, std::int32_t codePage) {
    Host* host = HostOf(obj);
    return host ? host->SetText(obj, count, id, text, size, codePage) : errPARAMETER_INVALID;
}

void* GetPtr(hOBJ obj, std::uint32_t id) {
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(GetQWordProp(obj, id)));
}

Result GetRaw(hOBJ obj, std::uint32_t* count, std::uint32_t id, void* buffer, std::uint32_t size) {
    Host* host = HostOf(obj);
    return host ? host->Get(obj, count, id, buffer, size) : errPARAMETER_INVALID;
}

Result SetRaw(hOBJ obj, std::uint32_t* count, std::uint32_t id, const void* buffer,
              std::uint32_t size) {
    Host* host = HostOf(obj);
    return host ? host->Set(obj, count, id, buffer, size) : errPARAMETER_INVALID;
}

const SystemTable kSystemTable = {
    CheckState, GetDWordProp,   GetQWordProp, SetBoolProp,    SetDWordProp,
    Parent,     QueryInterface, CreateChild,  CreateDone,     CloseObject,
    SendMsg,    CreateQuick,    HeapAllocate, HeapReallocate, HeapRelease,
    GetStr,     SetStr,         GetPtr,       GetRaw,         SetRaw,
};

// ---- root ----------------------------------------------------------------------

Host* RootHost(hOBJ root) {
    Host* host = Host::Current();
    return host && root && root == host->Root() ? host : nullptr;
}

Result Register(hOBJ root, std::uint32_t iid, std::uint32_t pid, std::uint32_t subtype,
                std::uint32_t version, std::uint32_t value, const AnyFn* internalTable,
                std::uint32_t internalCount, const AnyFn* methodTable, std::uint32_t methodCount,
                const PropertyRow* properties, std::uint32_t propertyCount, std::uint32_t dataSize,
                std::uint32_t flags) {
    Host* host = RootHost(root);
    if (!host)
        return errPARAMETER_INVALID;
    return host->RegisterInterface({iid, pid, subtype, version, value, internalTable, internalCount,
                                    methodTable, methodCount, properties, propertyCount, dataSize,
                                    flags});
}

Result Publish(hOBJ root, const ImportRecord* table, std::uint32_t pid) {
    Host* host = RootHost(root);
    return host ? host->PublishExports(table, pid) : errPARAMETER_INVALID;
}

Result Bind(hOBJ root, ImportRecord* table, std::uint32_t pid, const char* name) {
    Host* host = RootHost(root);
    return host ? host->BindImports(table, pid, name) : errPARAMETER_INVALID;
}

Result Release(hOBJ root, ImportRecord* table, std::uint32_t pid) {
    Host* host = RootHost(root);
    return host ? host->ReleaseImports(table, pid) : errPARAMETER_INVALID;
}

Result Lookup(hOBJ root, void** out, std::uint32_t pid, std::uint32_t fid, std::uint32_t mode) {
    (void)mode;
    Host* host = RootHost(root);
    if (!host || !out)
        return errPARAMETER_INVALID;
    *out = host->LookupExport(pid, fid);
    return *out ? errOK : errNOT_FOUND;
}

Result ProxyStub(hOBJ root, std::uint32_t flags, const void* name, std::uint32_t nameSize,
                 std::int32_t codePage) {
    (void)flags;
    Host* host = RootHost(root);
    if (!host || !name)
        return errPARAMETER_INVALID;
    std::wstring path;
    if (!DecodeText(name, nameSize ? nameSize : MeasureText(name, codePage), codePage, path))
        return errPARAMETER_INVALID;
    while (!path.empty() && path.back() == L'\0')
        path.pop_back();
    const Host::LoadOutcome outcome = host->LoadPlugin(path);
    if (outcome.windowsError)
        return errREMOTE_LOAD_FAILED;
    return outcome.returned ? errOK : (Failed(outcome.result) ? outcome.result : errUNEXPECTED);
}

const RootMethods kRootMethods = {Register, Publish, Bind, Release, Lookup, ProxyStub};

} // namespace

const SystemTable& SystemTableInstance() {
    return kSystemTable;
}
const RootMethods& RootMethodsInstance() {
    return kRootMethods;
}

Registration RootRegistration() {
    return {0,
            kPidKernel,
            0,
            0,
            0,
            nullptr,
            0,
            reinterpret_cast<const AnyFn*>(&kRootMethods),
            sizeof(RootMethods) / sizeof(AnyFn),
            nullptr,
            0,
            0,
            0};
}

} // namespace zev::host
