// INI sections through the profile functions: parsing, ordering, growth of
// the read buffer and write failures.
#include <gtest/gtest.h>

#include "installer/SystemUtils.h"
#include "installer/system/ConfigManager.h"
#include "tests/support/TempDir.h"

using namespace hotfixer;
using zev::test::TempDir;

TEST(ConfigManager, NullPathAndSectionRaiseInvalidParameter) {
    try {
        CConfigManager bad(nullptr);
        FAIL() << "expected SystemError";
    } catch (const SystemError& e) {
        EXPECT_EQ(e.code(), 87u);
        EXPECT_EQ(std::string(e.what()).rfind("CConfigManager::CConfigManager: ", 0), 0u);
    }
    TempDir dir;
    const std::wstring ini = dir / L"a.ini";
    CConfigManager config(ini.c_str());
    IniSection map;
    EXPECT_THROW(config.GetSection(nullptr, map), SystemError);
    EXPECT_THROW(config.SetSection(nullptr, map), SystemError);
}

TEST(ConfigManager, LaterDuplicateWinsAndEntriesWithoutEqualsAreSkipped) {
    TempDir dir;
    const std::wstring ini = dir / L"a.ini";
    zev::test::WriteFileBytes(ini, "[S]\r\na=1\r\nb\r\nc==x\r\na=2\r\n[T]\r\nz=9\r\n");
    CConfigManager config(ini.c_str());
    IniSection map{{L"stale", L"1"}};
    config.GetSection(L"S", map);
    EXPECT_EQ(map, (IniSection{{L"a", L"2"}, {L"c", L"=x"}}));
}

TEST(ConfigManager, MissingFileOrSectionGivesEmptyMap) {
    TempDir dir;
    const std::wstring ini = dir / L"missing.ini";
    CConfigManager config(ini.c_str());
    IniSection map{{L"x", L"y"}};
    config.GetSection(L"S", map);
    EXPECT_TRUE(map.empty());
    zev::test::WriteFileBytes(ini, "[Other]\r\nk=v\r\n");
    config.GetSection(L"S", map);
    EXPECT_TRUE(map.empty());
}

TEST(ConfigManager, WritesInKeyOrderAndRoundTrips) {
    TempDir dir;
    const std::wstring ini = dir / L"a.ini";
    CConfigManager config(ini.c_str());
    config.SetSection(L"S", {{L"b", L"2"}, {L"a", L"1"}});
    const std::string text = zev::test::ReadFileBytes(ini);
    EXPECT_LT(text.find("a=1"), text.find("b=2")) << text;

    IniSection back;
    config.GetSection(L"S", back);
    EXPECT_EQ(back, (IniSection{{L"a", L"1"}, {L"b", L"2"}}));

    config.SetSection(L"S", {});
    config.GetSection(L"S", back);
    EXPECT_TRUE(back.empty());
    EXPECT_NE(zev::test::ReadFileBytes(ini).find("[S]"), std::string::npos);
}

TEST(ConfigManager, LargeSectionIsReadCompletely) {
    // 600+ characters: the first read of 520 is too small and the buffer
    // doubles until it fits.
    TempDir dir;
    const std::wstring ini = dir / L"a.ini";
    IniSection big;
    for (int i = 0; i < 100; ++i)
        big[L"key" + std::to_wstring(i)] = std::wstring(40, L'v');
    CConfigManager config(ini.c_str());
    config.SetSection(L"S", big);
    IniSection back;
    config.GetSection(L"S", back);
    EXPECT_EQ(back, big);
}

TEST(ConfigManager, UnwritableFileRaisesWithSystemCode) {
    TempDir dir;
    const std::wstring ini = dir / L"no-such-folder\\a.ini";
    CConfigManager config(ini.c_str());
    try {
        config.SetSection(L"S", {{L"a", L"1"}});
        FAIL() << "expected SystemError";
    } catch (const SystemError& e) {
        EXPECT_NE(e.code(), 0u);
        EXPECT_EQ(std::string(e.what()).rfind("CConfigManager::SetSection: ", 0), 0u);
    }
}

TEST(ConfigManager, UnreadableFileGivesEmptyMap) {
    TempDir dir;
    // A folder where the file should be, and a file locked by another handle.
    CConfigManager folder(dir.path().c_str());
    IniSection map{{L"x", L"y"}};
    folder.GetSection(L"S", map);
    EXPECT_TRUE(map.empty());
    EXPECT_THROW(folder.SetSection(L"S", {{L"a", L"1"}}), SystemError);
}
