// The binary contract between the component framework and its plug-ins:
// object layout, the system table every object carries, the root object's
// operations, property rows, import/export records and the signatures of the
// exports of other framework components.
//
// Every framework operation returns a Result (ResultCodes.h) unless it says
// otherwise. Counts and sizes are in bytes.
#pragma once

#include "plugin/frame/ResultCodes.h"

#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace zev::frame {

struct SystemTable;
struct ObjectHeader;
/// A framework object. Objects belong to the framework; clients close them.
using hOBJ = ObjectHeader*;
/// Any function pointer as stored in a table; cast to the slot's signature.
using AnyFn = void (*)();

/// A framework object begins with its interface's method table, then the
/// system table, then one host word, then the interface's data record
/// (zero-filled before ObjectInit).
struct ObjectHeader {
    const AnyFn* methods;
    const SystemTable* sys;
    void* hostWord;
};
constexpr std::size_t kObjectHeaderSize = sizeof(ObjectHeader);

/// The data record of an object.
template <typename T> T* DataOf(hOBJ obj) {
    return reinterpret_cast<T*>(reinterpret_cast<unsigned char*>(obj) + kObjectHeaderSize);
}
/// The object whose data record `data` is.
inline hOBJ ObjectOf(void* data) {
    return reinterpret_cast<hOBJ>(static_cast<unsigned char*>(data) - kObjectHeaderSize);
}

/// System table, in slot order. Every object's `sys` points at it.
struct SystemTable {
    /// 1 when the object is in the state `stateId` (kPropCreationCompleted:
    /// creation completed), 0 when not, negative for an unknown state.
    Result (*ObjectCheckState)(hOBJ obj, std::uint32_t stateId);
    /// 32/64-bit value of a property (zero-extended; 0 when it cannot be read).
    std::uint32_t (*PropGetDWord)(hOBJ obj, std::uint32_t propId);
    std::uint64_t (*PropGetQWord)(hOBJ obj, std::uint32_t propId);
    Result (*PropSetBool)(hOBJ obj, std::uint32_t propId, std::uint32_t value);
    Result (*PropSetDWord)(hOBJ obj, std::uint32_t propId, std::uint32_t value);
    /// The parent, or null for the root.
    hOBJ (*ObjectParent)(hOBJ obj);
    /// 0 when the object implements interface `iid`, else errNOT_FOUND.
    Result (*ObjectQueryInterface)(hOBJ obj, std::uint32_t iid);
    /// Creates a child of `parent` (runs ObjectConstruct and ObjectInit).
    /// pid 0 takes the first interface registered with `iid`.
    Result (*ObjectCreate)(hOBJ parent, hOBJ* out, std::uint32_t iid, std::uint32_t pid,
                           std::uint32_t subtype);
    /// Completes the creation (runs ObjectInitDone). A failure leaves the
    /// object uncompleted; the caller closes it.
    Result (*ObjectCreateDone)(hOBJ obj);
    /// Closes the object's children, runs ObjectClose and frees the object.
    Result (*ObjectClose)(hOBJ obj);
    /// Sends a message about `obj`; `size` (may be null) is in/out.
    Result (*sysSendMsg)(hOBJ obj, std::uint32_t msgClass, std::uint32_t msgId, hOBJ context,
                         void* buffer, std::uint32_t* size);
    /// ObjectCreate and ObjectCreateDone in one; a failed completion closes
    /// the new object.
    Result (*ObjectCreateQuick)(hOBJ parent, hOBJ* out, std::uint32_t iid, std::uint32_t pid,
                                std::uint32_t subtype);
    /// Framework heap. Blocks are zero-filled; reallocation keeps the content
    /// (a null `old` allocates). `*out` is untouched on failure.
    Result (*ObjHeapAlloc)(hOBJ obj, void** out, std::size_t size);
    Result (*ObjHeapRealloc)(hOBJ obj, void** out, void* old, std::size_t size);
    Result (*ObjHeapFree)(hOBJ obj, void* block);
    /// Text property in code page `codePage`; `count` receives the bytes the
    /// text takes with its terminator (also when the buffer is too small:
    /// errBUFFER_TOO_SMALL, or when `buffer` is null: 0).
    Result (*PropGetStr)(hOBJ obj, std::uint32_t* count, std::uint32_t propId, void* buffer,
                         std::uint32_t size, std::int32_t codePage);
    /// Sets a text property from text in `codePage` (`size` 0: measured).
    Result (*PropSetStr)(hOBJ obj, std::uint32_t* count, std::uint32_t propId, const void* text,
                         std::uint32_t size, std::int32_t codePage);
    /// Pointer-sized value of a property, or null.
    void* (*PropGetPtr)(hOBJ obj, std::uint32_t propId);
    /// Raw property access: the count is the bytes the value takes.
    Result (*PropGet)(hOBJ obj, std::uint32_t* count, std::uint32_t propId, void* buffer,
                      std::uint32_t size);
    Result (*PropSet)(hOBJ obj, std::uint32_t* count, std::uint32_t propId, const void* buffer,
                      std::uint32_t size);
};

/// Property row flags.
constexpr std::uint64_t kPropFlagHandlerOnly = 0;
constexpr std::uint64_t kPropFlagReadable = 0x1; ///< field, read by the framework
constexpr std::uint64_t kPropFlagWritable = 0x2; ///< field, written by the framework
constexpr std::uint64_t kPropFlagConst = 0x4;    ///< value held in the row
constexpr std::uint64_t kPropFlagInMemory = 0x8; ///< with kPropFlagConst: value is an address
constexpr std::uint64_t kPropRowConst = kPropFlagConst;                                 // 4
constexpr std::uint64_t kPropRowConstInMemory = kPropFlagConst | kPropFlagInMemory;     // 12
constexpr std::uint64_t kPropRowFieldRead = kPropFlagReadable;                          // 1
constexpr std::uint64_t kPropRowFieldReadWrite = kPropFlagReadable | kPropFlagWritable; // 3

/// Getter: sets `count` to the bytes the value takes and copies it when a
/// buffer is given. Setter: `count` receives the bytes taken.
using PropGetter = Result (*)(hOBJ obj, std::uint32_t* count, std::uint32_t propId, void* buffer,
                              std::uint32_t size);
using PropSetter = Result (*)(hOBJ obj, std::uint32_t* count, std::uint32_t propId,
                              const void* buffer, std::uint32_t size);

/// One 48-byte row of a property table. A row with id 0 is empty.
struct PropertyRow {
    std::uint32_t id;
    std::uint32_t spare;
    std::uint64_t value; ///< constant, address of a constant/variable, or field offset
    std::uint64_t size;
    std::uint64_t flags;
    PropGetter getter;
    PropSetter setter;
};
static_assert(sizeof(PropertyRow) == 48);

/// Row builders.
constexpr PropertyRow ConstRow(std::uint32_t id, std::uint64_t value, std::uint64_t size,
                               std::uint64_t extraFlags = 0) {
    return {id, 0, value, size, kPropRowConst | extraFlags, nullptr, nullptr};
}
inline PropertyRow MemoryRow(std::uint32_t id, const void* address, std::uint64_t size,
                             std::uint64_t extraFlags = 0) {
    return {id,
            0,
            reinterpret_cast<std::uintptr_t>(address),
            size,
            kPropRowConstInMemory | extraFlags,
            nullptr,
            nullptr};
}
constexpr PropertyRow FieldRow(std::uint32_t id, std::uint64_t offset, std::uint64_t size,
                               std::uint64_t flags, PropSetter setter = nullptr) {
    return {id, 0, offset, size, flags, nullptr, setter};
}
constexpr PropertyRow HandlerRow(std::uint32_t id, PropGetter getter, PropSetter setter,
                                 std::uint64_t flags = kPropFlagHandlerOnly) {
    return {id, 0, 0, 0, flags, getter, setter};
}

/// Internal operations the framework calls on an object, as 1-based slots
/// of the 12-slot internal table.
constexpr std::uint32_t kInternalSlots = 12;
constexpr std::uint32_t kSlotObjectConstruct = 2;
constexpr std::uint32_t kSlotObjectInit = 3;
constexpr std::uint32_t kSlotObjectInitDone = 4;
constexpr std::uint32_t kSlotObjectClose = 7;
using ObjectConstructFn = Result (*)(hOBJ obj, std::uint32_t flag);
using ObjectOperationFn = Result (*)(hOBJ obj);

/// One 24-byte record of an import or export table; an all-zero record ends
/// the table. Imports: `address` is the variable receiving the function.
struct ImportRecord {
    void* address;
    std::uint64_t pluginId;
    std::uint64_t functionId;
};
static_assert(sizeof(ImportRecord) == 24);

/// Operations of the root object (its method table), 1-based slots.
struct RootMethods {
    Result (*RegisterInterface)(hOBJ root, std::uint32_t iid, std::uint32_t pid,
                                std::uint32_t subtype, std::uint32_t version, std::uint32_t value,
                                const AnyFn* internalTable, std::uint32_t internalCount,
                                const AnyFn* methodTable, std::uint32_t methodCount,
                                const PropertyRow* properties, std::uint32_t propertyCount,
                                std::uint32_t dataSize, std::uint32_t flags);
    /// Publishes the functions of `table` (records of plug-in `pid`).
    Result (*PublishExports)(hOBJ root, const ImportRecord* table, std::uint32_t pid);
    /// Fills every variable of `table`, leaving null what is not exported.
    /// Fails (errFUNCTION_NOT_FOUND) when an exporting component is absent.
    Result (*BindImports)(hOBJ root, ImportRecord* table, std::uint32_t pid, const char* name);
    /// Releases a bound table: its variables become null.
    Result (*ReleaseImports)(hOBJ root, ImportRecord* table, std::uint32_t pid);
    /// One export; `*out` is null when there is none (errNOT_FOUND).
    Result (*LookupExport)(hOBJ root, void** out, std::uint32_t pid, std::uint32_t fid,
                           std::uint32_t mode);
    /// Loads a proxy/stub plug-in module by name (`nameSize` 0: measured).
    Result (*LoadProxyStub)(hOBJ root, std::uint32_t flags, const void* name,
                            std::uint32_t nameSize, std::int32_t codePage);
};
inline const RootMethods& RootOf(hOBJ root) {
    return *reinterpret_cast<const RootMethods*>(root->methods);
}

/// The plug-in entry: (root, reason, result) -> 1 success, 0 failure.
using PluginEntryFn = int(__stdcall*)(hOBJ root, unsigned long reason, Result* result);
constexpr unsigned long kReasonLoad = 100;
constexpr unsigned long kReasonUnload = 101;
constexpr unsigned long kReasonReleaseBindings = 102;

// ---- exports of other components -------------------------------------------

/// Trace formatter (1, 0x5EC5256C): printf conventions on a narrow format
/// ("%s" narrow text, "%S" wide text) plus "%terr" (a Result), "%tflags" and
/// "%tenum" (each a pointer to a TraceFlags record).
using TraceFormatterFn = Result (*)(hOBJ obj, std::uint32_t level, const char* format,
                                    va_list args);
/// Names one flag bit or enumeration value; null when it has no name.
using FlagNamer = const char* (*)(std::uint32_t value);
struct TraceFlags {
    FlagNamer name;
    std::uint32_t value;
};
/// Leading bytes that mark a tagged trace line (followed by a tab).
constexpr unsigned char kTraceTag[9] = {0x01, 0xD8, 0xAD, 0xFE, 0x9F, 0xDA, 0xC9, 0xBF, '?'};

/// Text conversion (38, 0x0A02700B): converts `source` (of `sourceSize`
/// bytes, 0: up to its terminator) from `codePage` into a UTF-16 text in a
/// framework-heap block owned by the caller (free it with ObjHeapFree).
struct ConvertedText {
    wchar_t* text;
    std::uint32_t size; ///< bytes, terminator included
    std::uint32_t spare;
};
using TextConvertFn = Result (*)(ConvertedText* dest, std::uint32_t flags, std::uint32_t maxChars,
                                 const void* source, std::uint32_t sourceSize,
                                 std::int32_t codePage);

/// Date-time construction (1, 0x150920E3): from a Windows FILETIME value.
using DateTimeCreateFn = Result (*)(std::uint64_t* out, std::uint64_t fileTime);
/// Date-time from calendar fields (1, 0x0E262B4F).
using DateTimeCalendarFn = Result (*)(std::uint64_t* out, std::uint32_t year, std::uint32_t month,
                                      std::uint32_t day, std::uint32_t hour, std::uint32_t minute,
                                      std::uint32_t second, std::uint32_t nanoseconds);
/// Platform query (5, 0x78FB55F6): kPlatformWindowsNt on Windows NT.
using PlatformQueryFn = std::uint32_t (*)();

/// Direct-read driver (0xBF83). Handles are 64-bit, 0 is none.
using FSDirectOpenFn = Result (*)(std::uint64_t* handle, const wchar_t* name);
using FSDirectCloseFn = Result (*)(std::uint64_t handle);
using FSDirectReadFn = Result (*)(std::uint64_t handle, std::uint64_t offset, void* buffer,
                                  std::uint32_t count, std::uint32_t* read);
using FSDirectGetFileSizeFn = Result (*)(std::uint64_t handle, std::uint32_t* high,
                                         std::uint32_t* low);
struct DirectFileInfo {
    std::uint32_t attributes;
    std::uint32_t spare;
    std::uint64_t size;
    std::uint64_t creationTime; ///< date-time values
    std::uint64_t lastAccessTime;
    std::uint64_t lastWriteTime;
};
using FSDirectGetFileInfoFn = Result (*)(std::uint64_t handle, DirectFileInfo* info);

// ---- service objects ---------------------------------------------------------
// Methods are called through the object's method table (1-based slots); every
// method takes the object first.

/// Lock (17): slot 1 Lock(obj, wait), slot 2 Unlock(obj, flags).
constexpr std::uint32_t kLockSlotLock = 1;
constexpr std::uint32_t kLockSlotUnlock = 2;
using LockMethodFn = Result (*)(hOBJ obj, std::uint32_t arg);

/// Token (99): slot 1 Identity(obj, how): 1 assumes the elevated identity,
/// 0 or 2 gives it back; slot 2 Assume(obj).
constexpr std::uint32_t kTokenSlotIdentity = 1;
constexpr std::uint32_t kTokenSlotAssume = 2;
constexpr std::uint32_t kTokenAssume = 1;
constexpr std::uint32_t kTokenRevert = 2;
using TokenIdentityFn = Result (*)(hOBJ obj, std::uint32_t how);
using TokenAssumeFn = Result (*)(hOBJ obj);

/// String (100): its text is property kPropFullName (also kPropName), in
/// UTF-16. Methods:
constexpr std::uint32_t kStringSlotExportToProp = 1;   ///< (obj, count*, target, propId)
constexpr std::uint32_t kStringSlotImportFromProp = 2; ///< (obj, count*, source, propId)
constexpr std::uint32_t kStringSlotGetText = 3;        ///< (obj, count*, buf, size, cp, flags)
constexpr std::uint32_t kStringSlotSetText = 4;        ///< (obj, count*, text, size, cp, flags)
constexpr std::uint32_t kStringSlotAddText = 8;        ///< (obj, count*, text, size, cp, flags)
constexpr std::uint32_t kStringSlotAddSeparator = 21;  ///< (obj): ends the text with "\"
constexpr std::uint32_t kStringSlots = 21;
/// Flag of the string texts' operations (accepted, no effect here).
constexpr std::uint32_t kStringFlagWhole = 0x10000;
using StringPropFn = Result (*)(hOBJ obj, std::uint32_t* count, hOBJ other, std::uint32_t propId);
using StringGetTextFn = Result (*)(hOBJ obj, std::uint32_t* count, void* buffer, std::uint32_t size,
                                   std::int32_t codePage, std::uint32_t flags);
using StringSetTextFn = Result (*)(hOBJ obj, std::uint32_t* count, const void* text,
                                   std::uint32_t size, std::int32_t codePage, std::uint32_t flags);
using StringAddSeparatorFn = Result (*)(hOBJ obj);

} // namespace zev::frame
