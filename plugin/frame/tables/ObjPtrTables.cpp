// Registration tables of the ObjPtr interface (folder enumerator).
#include "plugin/frame/InterfaceTables.h"

#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PropertyIds.h"
#include "plugin/frame/RegistrationValues.h"
#include "plugin/frame/Settings.h"
#include "plugin/objptr/ObjPtrRecord.h"

#include <array>
#include <cstddef>

namespace zev::wfsys {

using namespace zev::frame;

namespace {

constexpr char kObjPtrDescription[] = "win32 object enumerator";

#define PTR_FIELD(name) offsetof(ObjPtrData, name)

} // namespace

InterfaceTables ObjPtrTables() {
    static std::array<AnyFn, kObjPtrInternalSlots> internal{};
    static std::array<AnyFn, kObjPtrMethodCount> methods{};
    static std::array<PropertyRow, kObjPtrPropertyCount> properties{};
    static bool built = false;
    if (!built) {
        internal[kSlotObjectInit - 1] = AsSlot(&ObjPtrInit);
        internal[kSlotObjectInitDone - 1] = AsSlot(&ObjPtrInitDone);
        internal[kSlotObjectClose - 1] = AsSlot(&ObjPtrClose);
        methods = {AsSlot(&IOCreate), AsSlot(&Copy),    AsSlot(&Rename), AsSlot(&Delete),
                   AsSlot(&Reset),    AsSlot(&Clone),   AsSlot(&Next),   AsSlot(&StepUp),
                   AsSlot(&StepDown), AsSlot(&ChangeTo)};
        properties = {
            ConstRow(kPropVersion, kRegVersion, 4),
            MemoryRow(kPropDescription, kObjPtrDescription, sizeof kObjPtrDescription),
            FieldRow(objprop::kUserWord, PTR_FIELD(user_word), 4, kPropRowFieldReadWrite),
            HandlerRow(kPropName, GetEntryName, nullptr),
            HandlerRow(kPropFolder, GetFolderProp, SetFolderProp),
            HandlerRow(kPropFullName, GetFullNameProp, nullptr),
            ConstRow(objprop::kMaxNameConst, 0x7FF, 4),
            FieldRow(kPropOsObject, PTR_FIELD(os_object), 8, kPropRowFieldRead),
            HandlerRow(objprop::kIsFolder, GetIsFolder, nullptr),
            FieldRow(objprop::kMask, PTR_FIELD(mask), 8, kPropRowFieldRead, SetMaskProp),
            FieldRow(objprop::kState, PTR_FIELD(state), 4, kPropRowFieldRead),
            HandlerRow(objprop::kSize32, GetSize, SetSize),
            HandlerRow(objprop::kSize64, GetSize, SetSize),
            HandlerRow(kPropAttributes, GetEntryAttributes, SetEntryAttributes),
            HandlerRow(objprop::kRefusedA, RefuseProperty, RefusePropertySet),
            HandlerRow(kPropReopenData, RefuseProperty, RefusePropertySet),
            HandlerRow(kPropCreationTime, GetEntryTime, SetEntryTime),
            HandlerRow(kPropLastWriteTime, GetEntryTime, SetEntryTime),
            HandlerRow(kPropLastAccessTime, GetEntryTime, SetEntryTime),
            MemoryRow(kPropCodePage, &g_codePage, 4),
            MemoryRow(CodePagePropertyOf(kPropName), &g_codePage, 4),
            MemoryRow(CodePagePropertyOf(kPropFolder), &g_codePage, 4),
            MemoryRow(CodePagePropertyOf(kPropFullName), &g_codePage, 4),
            FieldRow(kPropWinError, PTR_FIELD(win_error), 4, kPropRowFieldRead),
            MemoryRow(objprop::kCodePageAlias, &g_codePage, 4),
            FieldRow(objprop::kMaskFolders, PTR_FIELD(mask_folders), 4, kPropRowFieldReadWrite),
            HandlerRow(objprop::kShortFullName, GetShortFullNameProp, nullptr),
            HandlerRow(objprop::kShortName, GetShortName, nullptr),
            HandlerRow(objprop::kLongFullName, GetLongFullNameProp, nullptr),
            HandlerRow(objprop::kNameAlias, GetEntryName, nullptr),
            HandlerRow(kPropFileIndex, GetFolderFileIndex, nullptr),
            HandlerRow(kPropHandle, GetFolderHandle, nullptr),
            ConstRow(objprop::kZeroConst, 0, 4),
            HandlerRow(objprop::kNativeEnum, GetNativeEnum, SetNativeEnum),
            HandlerRow(objprop::kFileId, GetEntryFileId, nullptr),
            HandlerRow(objprop::kVolumeId, GetVolumeId, nullptr),
        };
        built = true;
    }
    return {internal.data(),   kObjPtrInternalSlots, methods.data(), kObjPtrMethodCount,
            properties.data(), kObjPtrPropertyCount, kObjPtrDataSize};
}

} // namespace zev::wfsys
