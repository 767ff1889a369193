// Fixtures over the Windows Installer stand-ins: a private installed-
// products state per test, the built patch package and the trace lines a
// test wrote.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "installer/ProductUpgradeCode.h"
#include "installer/diagnostics/TraceFile.h"
#include "testbed/msi/InstallerState.h"
#include "tests/support/Process.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TraceLog.h"

namespace zev::test {

/// ASCII text of the build's definitions as wide text.
inline std::wstring Wide(const char* text) {
    return std::wstring(text, text + std::char_traits<char>::length(text));
}

inline const std::wstring kPatchGuid = Wide(ZEV_TEST_PATCH_GUID);
inline const std::wstring kProductCode = Wide(ZEV_TEST_PRODUCT_CODE);

/// The signed and the unsigned build of the test package.
inline std::wstring SignedPackage() {
    return HostPath(ZEV_PATCH_PACKAGE);
}
inline std::wstring UnsignedPackage() {
    return HostPath(ZEV_PATCH_PACKAGE_UNSIGNED);
}

/// Puts the key registries of the build's key set into `productFolder`
/// (which ends with a separator), so that it accepts the signed package.
inline void InstallKeyRegistries(const std::wstring& productFolder) {
    for (const wchar_t* name : {L"al.pbv", L"oper.pbv"})
        ::CopyFileW((HostPath(ZEV_KEYS_DIR) + L"\\" + name).c_str(), (productFolder + name).c_str(),
                    FALSE);
}

/// Points the stand-ins of this process and of its children at a fresh
/// state under a scratch key; optionally installs the product.
class InstallerStandIn {
public:
    explicit InstallerStandIn(bool installProduct = true) {
        ::SetEnvironmentVariableW(msistate::kStateKeyVariable, m_key.path().c_str());
        if (installProduct)
            msistate::InstallProduct(kProductCode, zev::product::kProductUpgradeCode);
    }
    ~InstallerStandIn() { ::SetEnvironmentVariableW(msistate::kStateKeyVariable, nullptr); }
    InstallerStandIn(const InstallerStandIn&) = delete;
    InstallerStandIn& operator=(const InstallerStandIn&) = delete;

    /// The patch GUIDs applied to the test product.
    std::vector<std::wstring> Applied() const {
        std::vector<std::wstring> guids;
        for (const auto& patch : msistate::Patches(kProductCode))
            guids.push_back(patch.guid);
        return guids;
    }

private:
    ScratchRegKey m_key;
};

/// The trace records written since construction.
class TraceCapture {
public:
    TraceCapture()
        : m_path(FullPath(hotfixer::TraceFile::Instance().GetPath())),
          m_before(ReadTraceLog(m_path).records.size()) {}
    std::vector<TraceRecord> Records() const {
        auto all = ReadTraceLog(m_path).records;
        return {all.begin() + static_cast<std::ptrdiff_t>(std::min(m_before, all.size())),
                all.end()};
    }
    /// The messages of the new records, as wide text.
    std::vector<std::wstring> Messages() const {
        std::vector<std::wstring> out;
        for (const auto& r : Records())
            out.push_back(Wide(r.message.c_str()));
        return out;
    }
    /// The new records at `level` ("ERR", "NTF", ...) whose message is
    /// exactly `message`.
    size_t Count(const std::string& level, const std::wstring& message) const {
        size_t n = 0;
        for (const auto& r : Records())
            n += r.level == level && Wide(r.message.c_str()) == message;
        return n;
    }

private:
    // An empty trace root leaves the file in the current folder.
    static std::wstring FullPath(const std::wstring& path) {
        wchar_t full[MAX_PATH * 4];
        const DWORD n = ::GetFullPathNameW(path.c_str(), MAX_PATH * 4, full, nullptr);
        return n ? std::wstring(full, n) : path;
    }

    std::wstring m_path;
    size_t m_before;
};

} // namespace zev::test
