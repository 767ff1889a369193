// Registration tables of the IO interface (open file).
#include "plugin/frame/InterfaceTables.h"

#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PropertyIds.h"
#include "plugin/frame/RegistrationValues.h"
#include "plugin/frame/Settings.h"
#include "plugin/io/IoClose.h"
#include "plugin/io/IoRecord.h"

#include <array>
#include <cstddef>

namespace zev::wfsys {

using namespace zev::frame;

namespace {

constexpr char kIoDescription[] = "win32 input/output interface";

#define IO_FIELD(name) offsetof(Win32IOData, name)

} // namespace

InterfaceTables IoTables() {
    static std::array<AnyFn, kIoInternalSlots> internal{};
    static std::array<PropertyRow, kIoPropertyCount> properties{};
    static bool built = false;
    if (!built) {
        internal[kSlotObjectConstruct - 1] = AsSlot(&ObjectConstruct);
        internal[kSlotObjectInit - 1] = AsSlot(&ObjectInit);
        internal[kSlotObjectInitDone - 1] = AsSlot(&ObjectInitDone);
        internal[kSlotObjectClose - 1] = AsSlot(&ObjectClose);
        properties = {
            ConstRow(kPropVersion, kRegVersion, 4),
            MemoryRow(kPropDescription, kIoDescription, sizeof kIoDescription),
            FieldRow(ioprop::kUserWord, IO_FIELD(user_word), 4, 3),
            HandlerRow(kPropName, GetNameProperty, nullptr, 48),
            HandlerRow(kPropFolder, GetNameProperty, nullptr, 32),
            HandlerRow(kPropFullName, GetNameProperty, nullptr, 32),
            FieldRow(kPropOpenMode, IO_FIELD(open_mode), 4, 35),
            FieldRow(kPropAccessMode, IO_FIELD(access_mode), 4, 1, SetAccessMode),
            FieldRow(kPropDeleteOnClose, IO_FIELD(delete_on_close), 4, 3),
            ConstRow(ioprop::kMaxNameConst, 0x7FF, 4),
            FieldRow(kPropOsObject, IO_FIELD(os_object), 8, 1),
            ConstRow(ioprop::kZeroConst, 0, 1),
            HandlerRow(kPropReopenData, GetReopenData, SetReopenData, 32),
            HandlerRow(kPropAttributes, GetAttributes, SetAttributes),
            HandlerRow(kPropCreationTime, GetTime, SetTime),
            HandlerRow(kPropLastWriteTime, GetTime, SetTime),
            HandlerRow(kPropLastAccessTime, GetTime, SetTime),
            MemoryRow(kPropCodePage, &g_codePage, 4),
            MemoryRow(CodePagePropertyOf(kPropName), &g_codePage, 4),
            MemoryRow(CodePagePropertyOf(kPropFullName), &g_codePage, 4),
            FieldRow(kPropWinError, IO_FIELD(win_error), 4, 1),
            FieldRow(kPropHandle, IO_FIELD(handle), 8, 1),
            HandlerRow(ioprop::kNotLocked, GetNotLocked, nullptr),
            FieldRow(ioprop::kRestoreOnClose, IO_FIELD(restore_on_close), 4, 3),
            FieldRow(ioprop::kMayClearAttributes, IO_FIELD(may_clear_attributes), 4, 3),
            FieldRow(ioprop::kClampReads, IO_FIELD(clamp_reads), 4, 35),
            FieldRow(ioprop::kPreprocessNames, IO_FIELD(preprocess_names), 4, 35),
            HandlerRow(ioprop::kNotFixedDisk, GetNotFixedDisk, nullptr),
            HandlerRow(ioprop::kDeviceForm, GetDeviceForm, nullptr),
            FieldRow(ioprop::kReparseName, IO_FIELD(reparse_name), 4, 35),
            FieldRow(ioprop::kStoredA, IO_FIELD(stored_a), 4, 35),
            HandlerRow(ioprop::kFullNameAlias, GetNameProperty, nullptr),
            HandlerRow(ioprop::kShortFullName, GetShortFullName, nullptr),
            HandlerRow(ioprop::kShortFileName, GetShortFileName, nullptr),
            HandlerRow(ioprop::kLongFullName, GetLongFullName, nullptr),
            HandlerRow(ioprop::kLongFileName, GetLongFileName, nullptr),
            FieldRow(ioprop::kStoredB, IO_FIELD(stored_b), 4, 35),
            FieldRow(ioprop::kStoredC, IO_FIELD(stored_c), 4, 35),
            FieldRow(ioprop::kReopenByShortName, IO_FIELD(reopen_by_short_name), 4, 35),
            HandlerRow(ioprop::kSecurity, GetSecurity, SetSecurity),
            FieldRow(kPropFileIndex, IO_FIELD(file_index), 8, 1),
            HandlerRow(ioprop::kAsyncRead, nullptr, StartAsyncRead),
            HandlerRow(ioprop::kSavedAttributes, GetSavedAttributes, nullptr),
            HandlerRow(ioprop::kDriveType, GetDriveTypeProp, nullptr),
            FieldRow(ioprop::kDirectHandle, IO_FIELD(direct_handle), 8, 1),
            HandlerRow(ioprop::kNativeOpen, GetNativeOpen, SetNativeOpen),
            FieldRow(ioprop::kVolumeSerial, IO_FIELD(volume_serial), 4, 1),
        };
        built = true;
    }
    // The name setters follow the character mode of this load.
    const PropSetter nameSetter = g_wideMode ? SetNameWide : SetNameNarrow;
    for (PropertyRow& row : properties)
        if (row.id == kPropName || row.id == kPropFolder || row.id == kPropFullName)
            row.setter = nameSetter;
    return {internal.data(),   kIoInternalSlots, IoMethodTable(), kIoMethodCount,
            properties.data(), kIoPropertyCount, kIoDataSize};
}

} // namespace zev::wfsys
