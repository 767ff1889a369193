// Saves the machine's Group Policy shutdown-script keys (the state key and
// both mirror locations, HKLM in this process's view), clears them for one
// test and puts them back afterwards, removing any parent key the test
// created. Points %windir% at a scratch folder meanwhile, so that the
// local policy's "scripts.ini" lands there.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempDir.h"

namespace zev::test {

class GroupPolicyState {
public:
    GroupPolicyState();
    ~GroupPolicyState();
    GroupPolicyState(const GroupPolicyState&) = delete;
    GroupPolicyState& operator=(const GroupPolicyState&) = delete;

    /// The scratch Windows folder.
    const std::wstring& windir() const { return m_windir.path(); }
    /// The local policy folder under the scratch Windows folder.
    std::wstring PolicyFolder() const;
    /// Its "Scripts\scripts.ini".
    std::wstring ScriptsIni() const;

private:
    struct Saved {
        std::wstring path;
        std::wstring firstMissing; ///< highest ancestor absent before the test
        std::wstring backup;       ///< subkey of m_backup; empty when absent
    };
    TempDir m_windir;
    ScratchRegKey m_backup;
    std::vector<Saved> m_saved;
    std::optional<std::wstring> m_oldWindir;
};

} // namespace zev::test
