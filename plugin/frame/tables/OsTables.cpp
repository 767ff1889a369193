// Registration tables of the OS interface (object system).
#include "plugin/frame/InterfaceTables.h"

#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PropertyIds.h"
#include "plugin/frame/RegistrationValues.h"
#include "plugin/objptr/OsObject.h"

#include <array>

namespace zev::wfsys {

using namespace zev::frame;

namespace {

constexpr char kOsDescription[] = "win32 object system interface";
constexpr char kOsName[] = "Win32 native file system";

static_assert(sizeof(OsData) == kOsDataSize);

} // namespace

InterfaceTables OsTables() {
    // Methods: PtrCreate, IOCreate, Copy, Rename, Delete.
    static const std::array<AnyFn, kOsMethodCount> methods = {
        AsSlot(&OsPtrCreate), AsSlot(&OsIOCreate), AsSlot(&OsCopy),
        AsSlot(&OsRename),    AsSlot(&OsDelete),
    };
    static const std::array<PropertyRow, kOsPropertyCount> properties = {
        ConstRow(0x20301002, 0x2F, 2),
        ConstRow(0x20400052, 0x7FF, 4),
        ConstRow(kPropOsObject, 0, 8),
        ConstRow(kPropVersion, kRegVersion, 4),
        MemoryRow(kPropDescription, kOsDescription, sizeof kOsDescription),
        ConstRow(0x21700049, 1, 4),
        MemoryRow(kPropName, kOsName, sizeof kOsName),
        ConstRow(0x20401000, 260, 4),
        FieldRow(kPropWinError, offsetof(OsData, win_error), 4, kPropRowFieldRead),
        ConstRow(0x20601001, 0, 4),
        ConstRow(kPropCodePage, static_cast<std::uint32_t>(kCodePageSystem), 4),
    };
    return {nullptr,           kOsInternalSlots, methods.data(), kOsMethodCount,
            properties.data(), kOsPropertyCount, kOsDataSize};
}

} // namespace zev::wfsys
