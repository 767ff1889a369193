// A simulated product for one test: a product folder holding the
// stand-ins "grd.exe", "vlremote.dll" and "vxstub.vpm", the product's
// registry values pointing at it ("ProductRoot" = the folder, "TraceRoot"
// = the folder with a backslash), and every service process started in it
// ended when the object goes. The stand-ins' files (testbed.ini,
// grd.journal, vlremote.log) are described in
// testbed/product/ProductTestbed.h.
#pragma once

#include <string>

#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempDir.h"
#include "tests/support/TraceLog.h"

namespace zev::test {

class ProductStandIn {
public:
    /// `testbedDir` is the build folder of the stand-ins, as the build
    /// gives it (a POSIX path is fine).
    explicit ProductStandIn(const char* testbedDir);
    /// Ends the services started in the folder and leaves the folder that
    /// may have become the process's current one.
    ~ProductStandIn();
    ProductStandIn(const ProductStandIn&) = delete;
    ProductStandIn& operator=(const ProductStandIn&) = delete;

    const std::wstring& folder() const { return m_dir.path(); }
    std::wstring operator/(const std::wstring& name) const { return m_dir / name; }
    const ProductEnvironment& environment() const { return m_env; }

    /// Copies a built stand-in into the folder, under another name if given.
    void Install(const std::wstring& built, const std::wstring& as = L"") const;
    /// Writes a value of testbed.ini (the stand-ins' injected behaviour).
    void Setting(const wchar_t* section, const wchar_t* name, const wchar_t* value) const;
    /// Starts "grd.exe -s" as an administrator would and waits until it
    /// serves; false when it did not come up.
    bool StartService() const;

    std::string Journal() const;    ///< grd.journal
    std::string LibraryLog() const; ///< vlremote.log
    TraceLog Trace() const;         ///< the installer's trace file

private:
    std::wstring m_testbed;
    TempDir m_dir;
    ProductEnvironment m_env;
};

} // namespace zev::test
