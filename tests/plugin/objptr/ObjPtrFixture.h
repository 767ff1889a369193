// The calls a framework client makes on ObjPtr objects, over the linked
// plug-in, and the folders the tests walk.
#pragma once

#include "plugin/objptr/ObjPtrRecord.h"
#include "tests/plugin/LinkedPluginFixture.h"

#include <windows.h>

#include <string>
#include <vector>

namespace zev::test {

/// True under Wine (ntdll exports wine_get_version).
inline bool UnderWine() {
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

/// Method slots of the ObjPtr interface.
enum PtrSlot : std::uint32_t {
    kSlotIOCreate = 1,
    kSlotCopy,
    kSlotRename,
    kSlotDelete,
    kSlotReset,
    kSlotClone,
    kSlotNext,
    kSlotStepUp,
    kSlotStepDown,
    kSlotChangeTo,
};

class ObjPtrTest : public LinkedPluginTest {
protected:
    /// A completed ObjPtr under the root on `folder` with `mask`.
    frame::hOBJ NewPtr(const std::wstring& folder, const std::wstring& mask = L"",
                       bool native = false, std::uint32_t maskFolders = 0) {
        frame::hOBJ obj = nullptr;
        EXPECT_EQ(host.Create(host.Root(), &obj, frame::IID_OBJPTR), frame::errOK);
        if (!obj)
            return nullptr;
        m_ptrs.push_back(obj);
        if (!folder.empty()) {
            EXPECT_EQ(host.SetWide(obj, frame::kPropFolder, folder), frame::errOK);
        }
        if (!mask.empty()) {
            EXPECT_EQ(host.SetWide(obj, wfsys::objprop::kMask, mask), frame::errOK);
        }
        if (native) {
            EXPECT_EQ(host.SetDWord(obj, wfsys::objprop::kNativeEnum, 1), frame::errOK);
        }
        if (maskFolders) {
            EXPECT_EQ(host.SetDWord(obj, wfsys::objprop::kMaskFolders, maskFolders), frame::errOK);
        }
        EXPECT_EQ(host.CreateDone(obj), frame::errOK);
        return obj;
    }
    void TearDown() override {
        for (frame::hOBJ obj : m_ptrs)
            if (host.IsAlive(obj))
                host.Close(obj);
        LinkedPluginTest::TearDown();
    }

    frame::Result Next(frame::hOBJ p) { return host.CallMethod(p, kSlotNext); }
    std::uint32_t State(frame::hOBJ p) {
        return host.GetDWord(p, wfsys::objprop::kState).value_or(99);
    }
    std::wstring Name(frame::hOBJ p) { return host.GetWide(p, frame::kPropName).value_or(L"?"); }
    std::wstring Folder(frame::hOBJ p) {
        return host.GetWide(p, frame::kPropFolder).value_or(L"?");
    }

    /// Every entry from the current position to the end; `*end` gets the
    /// result that ended the walk.
    std::vector<std::wstring> Walk(frame::hOBJ p, frame::Result* end = nullptr) {
        std::vector<std::wstring> names;
        frame::Result r;
        while ((r = Next(p)) == frame::errOK)
            names.push_back(Name(p));
        if (end)
            *end = r;
        return names;
    }

    static void MakeFile(const std::wstring& path, const std::string& bytes = "x") {
        WriteFileBytes(path, bytes);
    }
    static void MakeFolder(const std::wstring& path) {
        const std::wstring name = path.size() >= MAX_PATH ? L"\\\\?\\" + path : path;
        ASSERT_TRUE(::CreateDirectoryW(name.c_str(), nullptr)) << ::GetLastError();
    }
    /// The temporary folder with a trailing separator.
    std::wstring Root() const { return dir.path() + L"\\"; }

private:
    std::vector<frame::hOBJ> m_ptrs;
};

} // namespace zev::test
