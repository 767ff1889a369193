// Wow64Redirector in a process that does not run under WOW64 (the 64-bit
// tree): it says so once and then does nothing.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/Wow64Redirector.h"

namespace {

std::vector<std::pair<int, std::string>> g_lines;
void Collect(int level, const char* text) {
    g_lines.emplace_back(level, text);
}

TEST(Wow64RedirectorNative, ReportsNoWow64AndSwitchesNothing) {
    zev::Wow64TraceFn slot = &Collect;
    zev::Wow64Redirector redirector(&slot);
    EXPECT_FALSE(redirector.IsWow64());
    void* previous = reinterpret_cast<void*>(0x1234);
    EXPECT_FALSE(redirector.Disable(&previous));
    EXPECT_EQ(previous, reinterpret_cast<void*>(0x1234));
    EXPECT_FALSE(redirector.Revert(previous));
    EXPECT_FALSE(redirector.Disable(nullptr));
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_EQ(g_lines[0].first, zev::kWow64TraceImportant);
    EXPECT_EQ(g_lines[0].second, "util\tIsWow64 = 0");
}

} // namespace
