// Command lines become ordered option maps; the first occurrence wins.
#include <gtest/gtest.h>

#include "installer/CmdParser.h"

using hotfixer::CCMDParser;
using hotfixer::OptionMap;

namespace {

struct ParserCase {
    const wchar_t* commandLine;
    OptionMap expected;
};

const ParserCase kCases[] = {
    {L"", {}},
    {L"/WHEN now /showui", {{L"/showui", L""}, {L"/when", L"now"}}},
    {L"/when /uninstall", {{L"/uninstall", L""}, {L"/when", L""}}},
    {L"/when now /when reboot", {{L"/when", L"now"}}},
    {L"extra /clean", {{L"/clean", L""}}},
    {L"/When NOW", {{L"/when", L"NOW"}}},
    {L"/when \"\" /showui", {{L"/showui", L""}, {L"/when", L""}}},
    {L"/timelimit /5", {{L"/5", L""}, {L"/timelimit", L""}}},
    {L"/timelimit 5 /timelimit 7", {{L"/timelimit", L"5"}}},
    {L"/when now /uninstall /showui /clean /timelimit 9",
     {{L"/clean", L""},
      {L"/showui", L""},
      {L"/timelimit", L"9"},
      {L"/uninstall", L""},
      {L"/when", L"now"}}},
    {L"/HELP", {{L"/help", L""}}},
    {L"/\u00C4BC x", {{L"/\u00C4bc", L"x"}}}, // only A-Z are lower-cased
    // Malformed or odd input never fails, it only yields fewer options.
    {L"/when \"now", {{L"/when", L"now"}}},
    {L"   ", {}},
    {L"\"\"", {}},
    {L"/ x", {{L"/", L"x"}}},
    {L"\"/when\" now", {{L"/when", L"now"}}},
};

} // namespace

TEST(CmdParser, ExamplesGiveTheExpectedOrderedOptions) {
    for (size_t i = 0; i < std::size(kCases); ++i) {
        SCOPED_TRACE(testing::Message() << "row " << i);
        const CCMDParser parser(kCases[i].commandLine);
        EXPECT_EQ(parser.Options(), kCases[i].expected);
    }
}

TEST(CmdParser, LookupsLowerCaseTheQueryOnlyForPresence) {
    const CCMDParser parser(L"/When NOW /Showui");
    EXPECT_TRUE(parser.HasOption(L"/WHEN"));
    EXPECT_TRUE(parser.HasOption(L"/when"));
    EXPECT_FALSE(parser.HasOption(nullptr));
    EXPECT_FALSE(parser.HasOption(L"/uninstall"));
    EXPECT_EQ(parser.GetOptionValue(L"/when"), L"NOW");
    EXPECT_EQ(parser.GetOptionValue(L"/showui"), L"");
    EXPECT_EQ(parser.GetOptionValue(L"/missing"), L"");
    EXPECT_EQ(parser.GetOptionValue(nullptr), L"");
}

TEST(CmdParser, VeryLongCommandLine) {
    std::wstring line = L"/when now /x ";
    line += std::wstring(100000, L'a');
    const CCMDParser parser(line.c_str());
    EXPECT_EQ(parser.GetOptionValue(L"/x").size(), 100000u);
}

TEST(CmdParser, NullTextGivesNoOptions) {
    const CCMDParser parser(nullptr);
    EXPECT_TRUE(parser.Options().empty());
}
