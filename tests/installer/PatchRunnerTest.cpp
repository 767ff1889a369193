// The patch runner's pieces that need no product: the product folder, the
// shutdown-script parameters and the home-edition decision.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include "installer/CmdParser.h"
#include "installer/PatchRunner.h"
#include "installer/ProductRegistry.h"
#include "installer/SystemUtils.h"
#include "tests/support/ScratchRegistry.h"

using namespace hotfixer;
using zev::test::ProductEnvironment;

TEST(PatchRunner, ProductFolderEndsWithASeparator) {
    const struct {
        const wchar_t* value;
        const wchar_t* folder;
        const wchar_t* patches;
    } rows[] = {
        {L"C:\\Product", L"C:\\Product\\", L"C:\\Product\\Patches"},
        {L"C:\\Product\\", L"C:\\Product\\", L"C:\\Product\\Patches"},
        {L"C:\\Product/", L"C:\\Product/", L"C:\\Product/Patches"},
        {L"", L"\\", L"\\Patches"},
    };
    ProductEnvironment env;
    for (const auto& row : rows) {
        env.Set(zev::product::kProductRoot, row.value);
        const std::wstring folder = GetProductFolder();
        EXPECT_EQ(folder, row.folder);
        EXPECT_EQ(GetPatchesFolder(folder), row.patches);
    }
}

TEST(PatchRunner, MissingProductFolderFailsTheRunner) {
    ProductEnvironment env;
    try {
        CPatchRunner runner(boost::make_shared<CCMDParser>(L"/when now"), L"hx318", true);
        FAIL() << "expected SystemError";
    } catch (const SystemError& e) {
        EXPECT_EQ(e.code(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        EXPECT_EQ(std::string(e.what()).rfind("GetProductFolder: ", 0), 0u) << e.what();
    }
}

TEST(PatchRunner, ShutdownScriptParametersKeepEveryOption) {
    const struct {
        const wchar_t* commandLine;
        const wchar_t* parameters;
    } rows[] = {
        {L"", L"/when now /clean "},
        {L"/when reboot", L"/when now /clean "},
        {L"/uninstall /showui", L"/when now /showui  /uninstall  /clean "},
        {L"/when reboot /timelimit 5 /extra x", L"/extra x /timelimit 5 /when now /clean "},
        {L"/clean", L"/when now /clean  /clean "},
    };
    for (const auto& row : rows) {
        const CCMDParser parser(row.commandLine);
        EXPECT_EQ(BuildShutdownScriptParameters(parser), row.parameters)
            << testing::PrintToString(std::wstring(row.commandLine));
    }
}

TEST(PatchRunner, HomeEditions) {
    auto facts = [](DWORD major, DWORD minor, WORD suite, bool typeKnown, DWORD type) {
        HomeEditionFacts f;
        f.versionKnown = true;
        f.platformId = VER_PLATFORM_WIN32_NT;
        f.major = major;
        f.minor = minor;
        f.suiteMask = suite;
        f.productTypeKnown = typeKnown;
        f.productType = type;
        return f;
    };
    const struct {
        const char* name;
        HomeEditionFacts facts;
        bool home;
    } rows[] = {
        {"XP Home", facts(5, 1, 0x200, false, 0), true},
        {"XP Professional", facts(5, 1, 0, false, 0), false},
        {"Server 2003 personal bit", facts(5, 2, 0x200, false, 0), false},
        {"Vista Home Basic", facts(6, 0, 0, true, 2), true},
        {"7 Home Premium", facts(6, 1, 0, true, 3), true},
        {"7 Ultimate", facts(6, 1, 0, true, 0x1c), false},
        {"6.x without GetProductInfo", facts(6, 1, 0, false, 2), false},
        {"10 Home", facts(10, 0, 0, true, 0x65), false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(IsHomeEditionFor(row.facts), row.home) << row.name;
    HomeEditionFacts unknown = facts(6, 1, 0, true, 2);
    unknown.versionKnown = false;
    EXPECT_FALSE(IsHomeEditionFor(unknown));
    unknown = facts(6, 1, 0, true, 2);
    unknown.platformId = VER_PLATFORM_WIN32_WINDOWS;
    EXPECT_FALSE(IsHomeEditionFor(unknown));
    // Wine reports 7 Ultimate: not a home edition.
    EXPECT_FALSE(CPatchRunner::IsHomeEdition());
}
