// Registration tables of the ObjPtr interface (folder enumerator).
#include "plugin/frame/InterfaceTables.h"

#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PropertyIds.h"
#include "plugin/frame/RegistrationValues.h"
#include "plugin/frame/Settings.h"

#include <array>

namespace zev::wfsys {

using namespace zev::frame;

namespace {

constexpr char kObjPtrDescription[] = "win32 object enumerator";

} // namespace

InterfaceTables ObjPtrTables() {
    static std::array<AnyFn, kObjPtrInternalSlots> internal{};
    static std::array<AnyFn, kObjPtrMethodCount> methods{};
    static const std::array<PropertyRow, kObjPtrPropertyCount> properties = {
        ConstRow(kPropVersion, kRegVersion, 4),
        MemoryRow(kPropDescription, kObjPtrDescription, sizeof kObjPtrDescription),
        PendingRow(0x21600048),
        PendingRow(kPropName),
        PendingRow(kPropFolder),
        PendingRow(kPropFullName),
        ConstRow(0x20400052, 0x7FF, 4),
        PendingRow(kPropOsObject),
        PendingRow(kPropDeleteOnClose),
        PendingRow(0x20901001),
        PendingRow(0x20401002),
        PendingRow(0x20400045),
        PendingRow(0x20500045),
        PendingRow(kPropAttributes),
        PendingRow(0x20500055),
        PendingRow(kPropReopenData),
        PendingRow(kPropCreationTime),
        PendingRow(kPropLastWriteTime),
        PendingRow(kPropLastAccessTime),
        MemoryRow(kPropCodePage, &g_codePage, 4),
        MemoryRow(CodePagePropertyOf(kPropName), &g_codePage, 4),
        MemoryRow(CodePagePropertyOf(kPropFolder), &g_codePage, 4),
        MemoryRow(CodePagePropertyOf(kPropFullName), &g_codePage, 4),
        PendingRow(kPropWinError),
        MemoryRow(0x31B02001, &g_codePage, 4),
        PendingRow(0x30602002),
        PendingRow(0x3090200B),
        PendingRow(0x3090200C),
        PendingRow(0x3090200D),
        PendingRow(0x3090200E),
        PendingRow(kPropFileIndex),
        PendingRow(kPropHandle),
        ConstRow(0x20601008, 0, 4),
        PendingRow(0x30603001),
        PendingRow(0x30503002),
        PendingRow(0x30403003),
    };
    return {internal.data(),   kObjPtrInternalSlots, methods.data(), kObjPtrMethodCount,
            properties.data(), kObjPtrPropertyCount, kObjPtrDataSize};
}

} // namespace zev::wfsys
