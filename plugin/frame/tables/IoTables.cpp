// Registration tables of the IO interface (open file).
#include "plugin/frame/InterfaceTables.h"

#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PropertyIds.h"
#include "plugin/frame/RegistrationValues.h"
#include "plugin/frame/Settings.h"

#include <array>

namespace zev::wfsys {

using namespace zev::frame;

namespace {

constexpr char kIoDescription[] = "win32 input/output interface";

} // namespace

InterfaceTables IoTables() {
    static std::array<AnyFn, kIoInternalSlots> internal{};
    // Methods: ReadAt, WriteAt, QuerySize, Resize, FlushBuffers.
    static std::array<AnyFn, kIoMethodCount> methods{};
    static const std::array<PropertyRow, kIoPropertyCount> properties = {
        ConstRow(kPropVersion, kRegVersion, 4),
        MemoryRow(kPropDescription, kIoDescription, sizeof kIoDescription),
        PendingRow(0x21600048, 3),
        PendingRow(kPropName, 48),
        PendingRow(kPropFolder, 32),
        PendingRow(kPropFullName, 32),
        PendingRow(kPropOpenMode, 35),
        PendingRow(kPropAccessMode, 1),
        PendingRow(kPropDeleteOnClose, 3),
        ConstRow(0x20400052, 0x7FF, 4),
        PendingRow(kPropOsObject, 1),
        ConstRow(0x20201004, 0, 1),
        PendingRow(kPropReopenData, 32),
        PendingRow(kPropAttributes),
        PendingRow(kPropCreationTime),
        PendingRow(kPropLastWriteTime),
        PendingRow(kPropLastAccessTime),
        MemoryRow(kPropCodePage, &g_codePage, 4),
        MemoryRow(CodePagePropertyOf(kPropName), &g_codePage, 4),
        MemoryRow(CodePagePropertyOf(kPropFullName), &g_codePage, 4),
        PendingRow(kPropWinError, 1),
        PendingRow(kPropHandle, 1),
        PendingRow(0x30602002),
        PendingRow(0x30602003, 3),
        PendingRow(0x30602004, 3),
        PendingRow(0x30602005, 35),
        PendingRow(0x30602006, 35),
        PendingRow(0x30402007),
        PendingRow(0x30902008),
        PendingRow(0x30602009, 35),
        PendingRow(0x3060200A, 35),
        PendingRow(0x20900060),
        PendingRow(0x3090200B),
        PendingRow(0x3090200C),
        PendingRow(0x3090200D),
        PendingRow(0x3090200E),
        PendingRow(0x3060200F, 35),
        PendingRow(0x30602010, 35),
        PendingRow(0x30602011, 35),
        PendingRow(0x33002012),
        PendingRow(kPropFileIndex, 1),
        PendingRow(0x30C02014),
        PendingRow(0x30C02015),
        PendingRow(0x30402016),
        PendingRow(0x30C02017, 1),
        PendingRow(0x30602018),
        PendingRow(0x30402019, 1),
    };
    return {internal.data(),   kIoInternalSlots, methods.data(), kIoMethodCount,
            properties.data(), kIoPropertyCount, kIoDataSize};
}

} // namespace zev::wfsys
