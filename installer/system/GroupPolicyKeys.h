// Where Windows keeps the machine shutdown scripts of the local Group
// Policy object: the state key, its two mirror locations, the value names
// of a script key and the "scripts.ini" layout.
#pragma once

namespace hotfixer::gp {

/// Container of the Group Policy object entries (HKEY_LOCAL_MACHINE).
inline constexpr wchar_t kStateRoot[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Group Policy\\State\\Machine\\Scripts"
    L"\\Shutdown";
/// The local Group Policy object's entry; its subkeys are the scripts.
inline constexpr wchar_t kObjectKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Group Policy\\State\\Machine\\Scripts"
    L"\\Shutdown\\0";
/// Mirror of the state root on Windows 6.0 and later.
inline constexpr wchar_t kMirrorNewLayout[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Group Policy\\Scripts\\Shutdown";
/// Mirror of the state root before Windows 6.0.
inline constexpr wchar_t kMirrorOldLayout[] =
    L"SOFTWARE\\Policies\\Microsoft\\Windows\\System\\Scripts\\Shutdown";
/// Windows major version from which the new mirror layout is used.
inline constexpr unsigned kNewLayoutMajorVersion = 6;

inline constexpr wchar_t kFileSysPath[] = L"FileSysPath";
inline constexpr wchar_t kParameters[] = L"Parameters";
inline constexpr wchar_t kScript[] = L"Script";
inline constexpr wchar_t kIsPowershell[] = L"IsPowershell";

/// The local policy folder is %windir% followed by this.
inline constexpr wchar_t kPolicyFolderSuffix[] = L"\\system32\\GroupPolicy\\Machine";
inline constexpr wchar_t kScriptsFolder[] = L"\\Scripts";
inline constexpr wchar_t kScriptsIni[] = L"\\scripts.ini";
inline constexpr wchar_t kShutdownSection[] = L"Shutdown";
/// Entry names in "scripts.ini": the key name followed by these.
inline constexpr wchar_t kCmdLineEntry[] = L"CmdLine";
inline constexpr wchar_t kParametersEntry[] = L"Parameters";

} // namespace hotfixer::gp
