// The plug-in's export table: 13 records of plug-in 3, handed by the
// framework to components that ask for a function by identifier. A record
// gets its address when its helper is built.
#include "plugin/frame/InterfaceTables.h"

#include "plugin/frame/ExportHelpers.h"
#include "plugin/frame/ExportIds.h"
#include "plugin/frame/Identifiers.h"
#include "plugin/fs/FileOps.h"
#include "plugin/fs/PathForms.h"
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
        {nullptr, kPidWfsys, kFidCopyObjectFile},
        {nullptr, kPidWfsys, kFidMoveFileDelayed},
        {Address(SetProcessErrorMode), kPidWfsys, kFidSetErrorMode},
        {nullptr, kPidWfsys, kFidMakeTempFileName},
        {nullptr, kPidWfsys, kFidCreateDirectoryRecursively},
        {nullptr, kPidWfsys, kFidStartProgram},
        {nullptr, kPidWfsys, kFidFindTempFolder},
        {Address(PrefixStringObject), kPidWfsys, kFidLongPathName},
        {nullptr, kPidWfsys, kFidFreeSpace},
        {nullptr, kPidWfsys, kFidRemoveDir},
        {Address(VlDeleteFile), kPidWfsys, kFidVlDeleteFile},
        {Address(TotalBytesWritten), kPidWfsys, kFidTotalBytesWritten},
        {Address(UniversalName), kPidWfsys, kFidUniversalName},
        {},
    }};
    return table.data();
}

} // namespace zev::wfsys
