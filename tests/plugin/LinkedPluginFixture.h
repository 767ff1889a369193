// A framework host with the plug-in's code linked into the test program
// and loaded through its entry (reason 100), so that tests can also reach
// the plug-in's function tables and seams; plus the calls a framework
// client makes on IO objects. The end checks that the framework heap is
// back to what it was.
#pragma once

#include "host/Host.h"
#include "plugin/frame/Entry.h"
#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PropertyIds.h"
#include "plugin/io/IoFlags.h"
#include "plugin/io/IoRecord.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace zev::test {

class LinkedPluginTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_blocksAtStart = host.LiveBlocks();
        frame::Result r = 0;
        ASSERT_EQ(wfsys::PluginEntry(host.Root(), frame::kReasonLoad, &r), 1);
        ASSERT_GE(r, 0);
    }
    void TearDown() override {
        for (frame::hOBJ obj : m_objects)
            if (host.IsAlive(obj))
                host.Close(obj);
        frame::Result r = 0;
        wfsys::PluginEntry(host.Root(), frame::kReasonReleaseBindings, &r);
        wfsys::PluginEntry(host.Root(), frame::kReasonUnload, &r);
        EXPECT_EQ(host.LiveBlocks(), m_blocksAtStart) << "framework-heap blocks left behind";
        EXPECT_EQ(host.BadFrees(), 0u) << "blocks freed twice or not from the heap";
    }

    /// A new IO object under the root with the given name and modes, not
    /// yet completed.
    frame::hOBJ NewIo(const std::wstring& name, std::uint32_t openMode = wfsys::kOpenExisting,
                      std::uint32_t access = wfsys::fACCESS_READ) {
        frame::hOBJ obj = nullptr;
        EXPECT_EQ(host.Create(host.Root(), &obj, frame::IID_IO), frame::errOK);
        if (!obj)
            return nullptr;
        m_objects.push_back(obj);
        EXPECT_EQ(host.SetDWord(obj, frame::kPropOpenMode, openMode), frame::errOK);
        EXPECT_EQ(host.SetDWord(obj, frame::kPropAccessMode, access), frame::errOK);
        if (!name.empty()) {
            EXPECT_EQ(host.SetWide(obj, frame::kPropFullName, name), frame::errOK);
        }
        return obj;
    }
    /// NewIo and the completion of its creation (the open).
    frame::hOBJ OpenIo(const std::wstring& name, std::uint32_t openMode, std::uint32_t access,
                       frame::Result* result = nullptr) {
        frame::hOBJ obj = NewIo(name, openMode, access);
        const frame::Result r = obj ? host.CreateDone(obj) : frame::errUNEXPECTED;
        if (result)
            *result = r;
        else
            EXPECT_EQ(r, frame::errOK) << "open of " << std::string(name.begin(), name.end());
        return obj;
    }
    void Close(frame::hOBJ obj) {
        host.Close(obj);
        std::erase(m_objects, obj);
    }

    frame::Result ReadAt(frame::hOBJ obj, std::uint64_t offset, void* buffer, std::uint32_t count,
                         std::uint32_t* read) {
        return host.CallMethod(obj, 1, read, offset, buffer, count);
    }
    frame::Result WriteAt(frame::hOBJ obj, std::uint64_t offset, const std::string& bytes,
                          std::uint32_t* written) {
        return host.CallMethod(obj, 2, written, offset, static_cast<const void*>(bytes.data()),
                               static_cast<std::uint32_t>(bytes.size()));
    }
    std::uint64_t Size(frame::hOBJ obj) {
        std::uint64_t size = 0;
        EXPECT_GE(host.CallMethod(obj, 3, &size, std::uint32_t{0}), 0);
        return size;
    }
    frame::Result Resize(frame::hOBJ obj, std::uint64_t size) {
        return host.CallMethod(obj, 4, size);
    }
    frame::Result Flush(frame::hOBJ obj) { return host.CallMethod(obj, 5); }

    wfsys::Win32IOData* Data(frame::hOBJ obj) { return wfsys::Io(obj); }

    bool Traced(const std::string& fragment) const {
        return std::any_of(
            host.Traces().begin(), host.Traces().end(),
            [&](const host::TraceLine& l) { return l.text.find(fragment) != std::string::npos; });
    }
    std::size_t MessagesWithId(std::uint32_t msgClass, std::uint32_t id) const {
        return std::count_if(
            host.Messages().begin(), host.Messages().end(),
            [&](const host::SentMessage& m) { return m.msgClass == msgClass && m.msgId == id; });
    }

    host::Host host;
    TempDir dir;

private:
    std::vector<frame::hOBJ> m_objects;
    std::size_t m_blocksAtStart = 0;
};

} // namespace zev::test
