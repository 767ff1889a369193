// Registration of a program as a machine shutdown script of the local
// Group Policy object: the state key, its mirror in the policy area and
// the "Shutdown" section of the local policy's "scripts.ini".
//
// Every failure raises SystemError whose text names the operation
// ("CShutdownScript::Create", ...). Work done before a failure stays, but
// a script key is either written whole or not at all, so Delete can always
// clean up after a failed Create.
#pragma once

#include <windows.h>

#include <map>
#include <string>

namespace hotfixer {

class CShutdownScript {
public:
    /// The mirror layout follows the Windows major version (6 and later:
    /// the new layout).
    explicit CShutdownScript(std::wstring scriptPath);
    /// The mirror layout chosen by the caller.
    CShutdownScript(std::wstring scriptPath, bool newLayout);

    /// Replaces an earlier registration of this script by a new script key
    /// with `parameters`, mirrors the tree and rewrites "scripts.ini".
    void Create(const std::wstring& parameters);
    /// Removes the script key of this script (one per call), renumbers the
    /// keys after it, rewrites "scripts.ini" and mirrors the tree. Without
    /// a Group Policy object key it only traces.
    void Delete();

    /// The first number missing from the script keys 0, 1, 2, ...
    static int FindFreeKeyNumber(HKEY objectKey);
    /// Creates script key `number` with its three values.
    void CreateShutdownScript(HKEY objectKey, int number, const std::wstring& parameters) const;
    /// Replaces the policy mirror by a copy of the state root.
    void SynchronizePoliciesKeys() const;
    /// %windir%\system32\GroupPolicy\Machine.
    static std::wstring GetScriptsIniPath();
    /// Rewrites the section "Shutdown" of "scripts.ini" from the script
    /// keys 0, 1, 2, ... up to the first missing number.
    static void UpdateScriptIni(HKEY objectKey);

    bool NewLayout() const { return m_newLayout; }
    /// The mirror key for this object's layout.
    const wchar_t* MirrorKey() const;

private:
    std::wstring m_scriptPath;
    bool m_newLayout;
};

/// The script keys under an object key by number (a name that is not a
/// hexadecimal number counts as 0). Returns the registry's answer.
LSTATUS EnumScriptKeys(HKEY objectKey, std::map<int, std::wstring>& keys);

} // namespace hotfixer
