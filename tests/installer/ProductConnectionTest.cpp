// The product connection's failures before any attempt, and the method
// table of its registration record. The attempts themselves run against
// the product stand-ins in tests/e2e.
#include <gtest/gtest.h>

#include "installer/ProductRegistry.h"
#include "installer/SystemUtils.h"
#include "installer/system/FrameworkMessages.h"
#include "installer/system/ProductConnection.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempDir.h"

using namespace hotfixer;
using namespace velora;

TEST(ProductConnection, UnreadableProductFolderFailsAtOnce) {
    zev::test::ProductEnvironment env;
    zev::test::TempDir dir;
    struct Row {
        const char* name;
        std::optional<std::wstring> productRoot;
    } rows[] = {{"value missing", std::nullopt}, {"folder missing", dir / L"no\\such\\folder"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.productRoot)
            env.Set(zev::product::kProductRoot, *row.productRoot);
        int pauses = 0;
        try {
            CUsingGRD connection(::GetModuleHandleW(nullptr), [&](DWORD) { ++pauses; });
            ADD_FAILURE() << "expected SystemError";
        } catch (const SystemError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("CUsingGRD::CUsingGRD: ", 0), 0u) << e.what();
            EXPECT_TRUE(e.code() == ERROR_FILE_NOT_FOUND || e.code() == ERROR_PATH_NOT_FOUND)
                << e.code();
        }
        EXPECT_EQ(pauses, 0) << "no attempt is made";
    }
}

namespace {

/// A record of some other type, for the type checks of the method table.
struct ForeignRecord : cSerializable {
    ForeignRecord() { vtbl = &kMethods; }
    static const cSerializableMethods kMethods;
};
const cSerializableMethods ForeignRecord::kMethods = [] {
    cSerializableMethods m{};
    m.TypeId = [](const cSerializable*) -> tDWORD { return 0x1234; };
    m.IsBasedOn = [](const cSerializable*, tDWORD id) -> tBOOL { return id == 0x1234; };
    return m;
}();

} // namespace

TEST(FSSyncRequest, MethodTable) {
    cFSSyncRequest record;
    const cSerializableMethods& m = *record.vtbl;
    EXPECT_EQ(m.TypeId(&record), kTypeFSSyncRequest);
    EXPECT_EQ(m.Size(&record), 12u);
    EXPECT_TRUE(m.IsBasedOn(&record, kTypeFSSyncRequest));
    EXPECT_TRUE(m.IsBasedOn(&record, kTypeAnyRecord));
    EXPECT_FALSE(m.IsBasedOn(&record, 0x1234));
    EXPECT_EQ(m.Slot5(&record), errOK);
    EXPECT_EQ(m.Slot10(&record), errOK);
    EXPECT_EQ(m.Slot11(&record), errOK);
    // Without a loaded library there is no root to finish the record with.
    EXPECT_TRUE(Failed(m.Finish(&record)));
}

TEST(FSSyncRequest, AssignAndCopyTakeTheProcessIdOnly) {
    cFSSyncRequest source, target;
    source.base = 1;
    source.processId = 4242;
    target.base = 7;
    target.processId = 1;

    EXPECT_EQ(target.vtbl->Assign(&target, &source, true, true), errOK);
    EXPECT_EQ(target.processId, 1u) << "keep leaves the target as it is";
    EXPECT_EQ(target.vtbl->Assign(&target, &source, true, false), errOK);
    EXPECT_EQ(target.processId, 4242u);
    EXPECT_EQ(target.base, 7u);

    cFSSyncRequest copy;
    EXPECT_EQ(source.vtbl->CopyTo(&source, &copy, true), errOK);
    EXPECT_EQ(copy.processId, 4242u);

    ForeignRecord foreign;
    EXPECT_EQ(target.vtbl->Assign(&target, &foreign, true, false), errOBJECT_BAD_STATE);
    EXPECT_EQ(target.vtbl->Assign(&target, &foreign, false, false), errRECORD_TYPE_LENIENT);
    EXPECT_EQ(target.processId, 4242u);
}
