// The patch job: apply or remove the embedded patch now, or register this
// program to do so at the next shutdown of the operating system.
#pragma once

#include <windows.h>

#include <string>

#include <boost/shared_ptr.hpp>

#include "installer/diagnostics/EventMessage.h"

namespace hotfixer {

class CCMDParser;
class CPatchManager;
class CUsingGRD;

/// The product folder from the value "ProductRoot", always ending in "\"
/// or "/". Raises SystemError with "GetProductFolder" when unreadable.
std::wstring GetProductFolder();
/// The product folder followed by "Patches".
std::wstring GetPatchesFolder(const std::wstring& productFolder);

/// The parameters of the shutdown script that finishes a scheduled job:
/// "/when now " unless the options have "/when", every option in order
/// ("/when" always as "/when now "), then "/clean ".
std::wstring BuildShutdownScriptParameters(const CCMDParser& parser);

/// Version facts IsHomeEdition decides on.
struct HomeEditionFacts {
    bool versionKnown = false; ///< GetVersionExW succeeded
    DWORD platformId = 0;
    DWORD major = 0;
    DWORD minor = 0;
    WORD suiteMask = 0;
    bool productTypeKnown = false; ///< GetProductInfo exists and answered
    DWORD productType = 0;
};
/// XP Home (5.1 with the "personal" suite bit), Vista or 7 Home Basic or
/// Home Premium (6.x with product type 2 or 3).
bool IsHomeEditionFor(const HomeEditionFacts& facts);

class CPatchRunner {
public:
    /// Reads the product folder, creates the "Patches" folder and brings the
    /// state book up to date. Raises on failure.
    CPatchRunner(boost::shared_ptr<CCMDParser> parser, const std::wstring& patchId,
                 bool checkSignatures);
    /// Releases the state book, which updates Patches.ini once more.
    ~CPatchRunner();
    CPatchRunner(const CPatchRunner&) = delete;
    CPatchRunner& operator=(const CPatchRunner&) = delete;

    /// Runs the job the options ask for; raises on failure.
    void RunHotfixer(const boost::shared_ptr<CUsingGRD>& connection);

    void ApplyPrivatePachesNow();
    void UninstallPrivatePachesNow();
    /// The patch GUID of the embedded package, read from a verified copy.
    std::wstring GetHotfixerGUID();
    /// Registers `copyPath` as the shutdown script that finishes the job.
    void CreateShutdownScript(const std::wstring& copyPath);

    static bool IsHomeEdition();

    const std::wstring& ProductFolder() const { return m_productFolder; }
    const std::wstring& PatchesFolder() const { return m_patchesFolder; }

private:
    void ScheduleJob(const boost::shared_ptr<CUsingGRD>& connection, bool uninstall);
    /// Starts msiexec with `commandLine` in the patches folder, waits for it
    /// and raises SystemError(exit code, operation) unless it succeeded.
    void RunInstaller(std::wstring commandLine, const char* operation);
    std::wstring PackagePath(const std::wstring& folder) const;

    boost::shared_ptr<CCMDParser> m_parser;
    bool m_checkSignatures;
    std::wstring m_modulePath;
    CEventMessage m_messages;
    std::wstring m_productFolder;
    std::wstring m_patchesFolder;
    std::wstring m_stateBookPath;
    boost::shared_ptr<CPatchManager> m_stateBook;
    std::wstring m_patchId;
};

} // namespace hotfixer
