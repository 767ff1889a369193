// The plug-in's export table: 13 records of plug-in 3, handed by the
// framework to components that ask for a function by identifier.
#include "plugin/frame/InterfaceTables.h"

#include "plugin/frame/ExportHelpers.h"
#include "plugin/frame/ExportIds.h"
#include "plugin/frame/Identifiers.h"
#include "plugin/fs/DirHelpers.h"
#include "plugin/fs/FileOps.h"
#include "plugin/fs/PathForms.h"
#include "plugin/io/IoClose.h"
#include "plugin/io/IoRecord.h"

#include <array>

namespace zev::wfsys {

using namespace zev::frame;

namespace {

void* Address(auto f) {
    return reinterpret_cast<void*>(f);
}

} // namespace

const ImportRecord* ExportTable() {
    static const std::array<ImportRecord, kExportCount + 1> table = {{
        {Address(CopyObjectFile), kPidWfsys, kFidCopyObjectFile},
        {Address(MoveFileDelayed), kPidWfsys, kFidMoveFileDelayed},
        {Address(SetProcessErrorMode), kPidWfsys, kFidSetErrorMode},
        {Address(MakeTempFileName), kPidWfsys, kFidMakeTempFileName},
        {Address(CreateFolderOfObject), kPidWfsys, kFidCreateDirectoryRecursively},
        {Address(RunProgram), kPidWfsys, kFidStartProgram},
        {Address(FindTempFolder), kPidWfsys, kFidFindTempFolder},
        {Address(PrefixStringObject), kPidWfsys, kFidLongPathName},
        {Address(GetFreeSpace), kPidWfsys, kFidFreeSpace},
        {Address(RemoveFolderOfObject), kPidWfsys, kFidRemoveDir},
        {Address(VlDeleteFile), kPidWfsys, kFidVlDeleteFile},
        {Address(TotalBytesWritten), kPidWfsys, kFidTotalBytesWritten},
        {Address(UniversalName), kPidWfsys, kFidUniversalName},
        {},
    }};
    return table.data();
}

} // namespace zev::wfsys
