// A test fixture that loads wfsys.vpm through the framework host, with the
// conveniences plug-in tests need: creating objects of the plug-in's
// interfaces, setting their properties before completing the creation, and
// checking at the end that nothing was leaked on the framework heap.
#pragma once

#include "host/Host.h"
#include "plugin/frame/Identifiers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zev::test {

/// The module as the test process sees it.
std::wstring PluginModulePath();

class LoadedPlugin : public ::testing::Test {
protected:
    using hOBJ = frame::hOBJ;
    using Result = frame::Result;

    /// Loads the module (reason 100 must answer 1).
    void SetUp() override;
    /// Closes every object, unloads the module and checks the heap: every
    /// block the plug-in took must have been given back, none twice.
    void TearDown() override;

    struct Setup {
        std::uint32_t iid;
        std::wstring fullName;                                       ///< 0x20900041, if not empty
        std::vector<std::pair<std::uint32_t, std::uint32_t>> dwords; ///< (id, value)
        hOBJ parent = nullptr;                                       ///< the root when null
    };
    /// Creates an object of the plug-in, sets its full name (UTF-16) and 32-bit
    /// properties, and completes its creation. On failure the object is
    /// closed and `*out` stays null; the result is the first failing step's.
    Result CreateObject(const Setup& setup, hOBJ* out);

    host::Host m_host;
    bool m_checkHeap = true;
};

} // namespace zev::test
