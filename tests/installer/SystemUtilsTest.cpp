// Error texts, registry reads, substitution, key copies and hex text.
#include <gtest/gtest.h>

#include <windows.h>

#include "common/UniqueHandle.h"
#include "installer/SystemUtils.h"
#include "installer/diagnostics/TraceFile.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TraceLog.h"

using namespace hotfixer;
using zev::test::ScratchRegKey;

namespace {

std::wstring SystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS | 0xFF,
                   nullptr, code, 0x400, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring out = text ? text : L"";
    LocalFree(text);
    return out;
}

zev::test::TraceTail TailOfProcessTrace() {
    return zev::test::TraceTail(TraceFile::Instance().GetPath());
}

} // namespace

TEST(ErrorText, NamesTheOperationAndTheSystemMessageOnOneLine) {
    const std::wstring wide = ErrorText(2, std::wstring(L"CreateDirRecurs"));
    EXPECT_EQ(wide, L"CreateDirRecurs: " + SystemMessage(2));
    EXPECT_EQ(wide.find(L'\n'), std::wstring::npos);
    EXPECT_EQ(ErrorText(0x2FFFFFFF, std::wstring(L"Op")), L"Op: Unknown error.");
    EXPECT_EQ(ErrorText(0x2FFFFFFF, std::string("Op")), "Op: Unknown error.");

    const SystemError error(5, "CPatchRunner::RunHotfixer");
    EXPECT_EQ(error.code(), 5u);
    EXPECT_EQ(std::string(error.what()), ErrorText(5, std::string("CPatchRunner::RunHotfixer")));
    EXPECT_NO_THROW(ThrowIfFailed(0, "x"));
    EXPECT_THROW(ThrowIfFailed(5, "x"), std::logic_error);
}

TEST(RegQueryStringValue, GrowsForLongValuesAndEndsUnterminatedOnes) {
    ScratchRegKey key;
    const std::wstring longText(1000, L'x');
    key.SetString(L"long", longText);
    // A value stored without its NUL, exactly filling the first read.
    const std::wstring exact(260, L'y');
    RegSetValueExW(key.key(), L"bare", 0, REG_SZ, reinterpret_cast<const BYTE*>(exact.data()),
                   static_cast<DWORD>(exact.size() * sizeof(wchar_t)));
    std::vector<wchar_t> buffer;
    ASSERT_EQ(RegQueryStringValue(key.key(), L"long", buffer), ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(buffer.data()), longText);
    ASSERT_EQ(RegQueryStringValue(key.key(), L"bare", buffer), ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(buffer.data()), exact);
    EXPECT_EQ(RegQueryStringValue(key.key(), L"missing", buffer), ERROR_FILE_NOT_FOUND);

    // An oversized value of another type is still read safely as text.
    std::string huge(1 << 20, 'z');
    key.SetBinary(L"huge", huge);
    ASSERT_EQ(RegQueryStringValue(key.key(), L"huge", buffer), ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(buffer.data()).size(), huge.size() / 2);

    ASSERT_EQ(RegReadStringValue(L"long", key.path().c_str(), HKEY_CURRENT_USER, buffer),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(buffer.data()), longText);
    EXPECT_EQ(
        RegReadStringValue(L"long", (key.path() + L"\\nope").c_str(), HKEY_CURRENT_USER, buffer),
        ERROR_FILE_NOT_FOUND);
}

TEST(SubstituteRegVariables, ResolvesReferencesInTurn) {
    ScratchRegKey key;
    key.SetString(L"A", L"C:\\p");
    key.SetString(L"B", L"q");
    key.SetString(L"Nested", L"%A%\\n");
    const auto tail = TailOfProcessTrace();

    std::wstring text = L"%A%\\x\\%B%";
    EXPECT_EQ(SubstituteRegVariables(HKEY_CURRENT_USER, key.path().c_str(), text), 0);
    EXPECT_EQ(text, L"C:\\p\\x\\q");
    const auto log = tail.Read();
    ASSERT_EQ(log.Matching("SubstituteRegVariables: New value: ").size(), 2u);
    EXPECT_EQ(log.Matching("New value: ")[1].message,
              "SubstituteRegVariables: New value: C:\\p\\x\\q");
    EXPECT_EQ(log.Matching("Current variable name: A").size(), 1u);

    text = L"%Nested%!";
    EXPECT_EQ(SubstituteRegVariables(HKEY_CURRENT_USER, key.path().c_str(), text), 0);
    EXPECT_EQ(text, L"C:\\p\\n!");
}

TEST(SubstituteRegVariables, ErrorsLeaveTheTextAsItWas) {
    ScratchRegKey key;
    std::wstring text = L"plain text";
    EXPECT_EQ(SubstituteRegVariables(HKEY_CURRENT_USER, key.path().c_str(), text), 0);
    EXPECT_EQ(text, L"plain text");

    text = L"%Missing%\\x";
    EXPECT_EQ(SubstituteRegVariables(HKEY_CURRENT_USER, key.path().c_str(), text),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(text, L"%Missing%\\x");

    EXPECT_EQ(SubstituteRegVariables(nullptr, key.path().c_str(), text), 87);
    EXPECT_EQ(SubstituteRegVariables(HKEY_CURRENT_USER, nullptr, text), 87);

    text = L"ends with %";
    try {
        SubstituteRegVariables(HKEY_CURRENT_USER, key.path().c_str(), text);
        FAIL() << "expected std::out_of_range";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "invalid string position");
    }
}

TEST(SubstituteRegVariables, UnclosedReferenceEndsAtTheLastCharacter) {
    ScratchRegKey key;
    key.SetString(L"ab", L"V");
    std::wstring text = L"%abc";
    EXPECT_EQ(SubstituteRegVariables(HKEY_CURRENT_USER, key.path().c_str(), text), 0);
    EXPECT_EQ(text, L"V");
}

TEST(SubstituteRegVariables, SelfReferringValuesStop) {
    ScratchRegKey key;
    key.SetString(L"Self", L"%Self%");
    key.SetString(L"Ping", L"x%Pong%");
    key.SetString(L"Pong", L"%Ping%");
    key.SetString(L"Grow", L"%Grow%%Grow%");
    for (const wchar_t* start : {L"%Self%", L"%Ping%", L"a%Grow%"}) {
        std::wstring text = start;
        EXPECT_EQ(SubstituteRegVariables(HKEY_CURRENT_USER, key.path().c_str(), text),
                  ERROR_CIRCULAR_DEPENDENCY)
            << "start " << testing::PrintToString(std::wstring(start));
        EXPECT_LE(text.size(), kMaxSubstitutedChars * 2 + 16);
    }
}

TEST(RegCopyKeyW, CopiesANestedTreeWithClassesAndLargeBinaryValues) {
    ScratchRegKey source, destination;
    std::string big(70000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7 + 3);
    source.SetString(L"top", L"1");
    source.SetBinary(L"blob", big, L"a");
    source.SetDword(L"n", 42, L"a\\b");
    source.SetString(L"deep", L"3", REG_EXPAND_SZ, L"a\\b\\c");
    source.SetString(L"small", L"s", REG_SZ, L"a");
    {
        zev::UniqueHKey classed;
        ASSERT_EQ(RegCreateKeyExW(source.key(), L"withclass", 0, const_cast<wchar_t*>(L"MyClass"),
                                  0, KEY_ALL_ACCESS, nullptr, classed.put(), nullptr),
                  ERROR_SUCCESS);
    }
    destination.SetString(L"kept", L"k");
    const auto tail = TailOfProcessTrace();

    ASSERT_EQ(RegCopyKeyW(HKEY_CURRENT_USER, source.path().c_str(), destination.key()),
              ERROR_SUCCESS);

    EXPECT_EQ(destination.GetString(L"top").value_or(L""), L"1");
    EXPECT_EQ(destination.GetString(L"kept").value_or(L""), L"k");
    EXPECT_EQ(destination.GetString(L"small", L"a").value_or(L""), L"s");
    EXPECT_EQ(destination.GetString(L"deep", L"a\\b\\c").value_or(L""), L"3");

    zev::UniqueHKey a;
    ASSERT_EQ(RegOpenKeyExW(destination.key(), L"a", 0, KEY_READ, a.put()), ERROR_SUCCESS);
    std::string copied(big.size() + 16, '\0');
    DWORD size = static_cast<DWORD>(copied.size()), type = 0;
    ASSERT_EQ(RegQueryValueExW(a.get(), L"blob", nullptr, &type,
                               reinterpret_cast<BYTE*>(copied.data()), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    copied.resize(size);
    EXPECT_EQ(copied, big);

    zev::UniqueHKey withClass;
    ASSERT_EQ(RegOpenKeyExW(destination.key(), L"withclass", 0, KEY_READ, withClass.put()),
              ERROR_SUCCESS);
    wchar_t cls[64] = {};
    DWORD clsLen = 64;
    RegQueryInfoKeyW(withClass.get(), cls, &clsLen, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr);
    EXPECT_STREQ(cls, L"MyClass");

    EXPECT_EQ(
        RegCopyKeyW(HKEY_CURRENT_USER, (source.path() + L"\\missing").c_str(), destination.key()),
        ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCopyKeyW(nullptr, nullptr, destination.key()), 87);
}

TEST(SystemUtils, HexTextAndWindowsDir) {
    EXPECT_EQ(HexToInt(L"1f"), 31);
    EXPECT_EQ(HexToInt(L"zz"), 0);
    EXPECT_EQ(HexToInt(nullptr), 0);
    EXPECT_EQ(HexToInt(L"ffffffff"), -1);
    EXPECT_EQ(IntToHex(255), L"ff");
    EXPECT_EQ(IntToHex(0), L"0");

    std::wstring windir = L"stale";
    EXPECT_EQ(GetWindowsDir(windir), 0);
    wchar_t expected[MAX_PATH] = {};
    GetEnvironmentVariableW(L"windir", expected, MAX_PATH);
    EXPECT_EQ(windir, expected);
}
