#include "installer/PatchRunner.h"

#include <vector>

#include <boost/make_shared.hpp>

#include "common/UniqueHandle.h"
#include "installer/CmdParser.h"
#include "installer/ConsoleOutput.h"
#include "installer/FileUtils.h"
#include "installer/FixActions.h"
#include "installer/InstallerInvocation.h"
#include "installer/MsiQueries.h"
#include "installer/PatchManager.h"
#include "installer/ProductRegistry.h"
#include "installer/SystemUtils.h"
#include "installer/Unpacker.h"
#include "installer/diagnostics/EventLog.h"
#include "installer/diagnostics/TraceFile.h"
#include "installer/system/ProductConnection.h"
#include "installer/system/ShutdownScript.h"

namespace hotfixer {

namespace {

constexpr wchar_t kRunOp[] = L"CPatchRunner::RunHotfixer";
constexpr char kRunOpNarrow[] = "CPatchRunner::RunHotfixer";
constexpr wchar_t kPrivateFolder[] = L"\\Private";
constexpr wchar_t kWhenNow[] = L"now";
constexpr wchar_t kWhenReboot[] = L"reboot";
constexpr DWORD kXpPersonalSuite = 0x200; // VER_SUITE_PERSONAL
constexpr DWORD kHomeBasic = 2;           // PRODUCT_HOME_BASIC
constexpr DWORD kHomePremium = 3;         // PRODUCT_HOME_PREMIUM

void ReportInformation(CEventMessage& messages, unsigned type) {
    CEventLog::Instance().Report(messages.Compose(type), EVENTLOG_INFORMATION_TYPE);
}

} // namespace

std::wstring GetProductFolder() {
    std::vector<wchar_t> buffer;
    ThrowIfFailed(RegReadStringValue(zev::product::kProductRoot, zev::product::kEnvironmentKey,
                                     HKEY_LOCAL_MACHINE, buffer),
                  "GetProductFolder");
    std::wstring folder = buffer.data();
    if (folder.empty() || (folder.back() != L'\\' && folder.back() != L'/'))
        folder += L'\\';
    return folder;
}

std::wstring GetPatchesFolder(const std::wstring& productFolder) {
    return productFolder + L"Patches";
}

std::wstring BuildShutdownScriptParameters(const CCMDParser& parser) {
    const OptionMap options = parser.Options();
    std::wstring parameters;
    if (!options.count(L"/when"))
        parameters += L"/when now ";
    for (const auto& [name, value] : options) {
        if (name == L"/when")
            parameters += L"/when now ";
        else
            parameters += name + L" " + value + L" ";
    }
    parameters += L"/clean ";
    return parameters;
}

bool IsHomeEditionFor(const HomeEditionFacts& facts) {
    if (!facts.versionKnown || facts.platformId != VER_PLATFORM_WIN32_NT)
        return false;
    if (facts.major == 6)
        return facts.productTypeKnown &&
               (facts.productType == kHomeBasic || facts.productType == kHomePremium);
    return facts.major == 5 && facts.minor == 1 && (facts.suiteMask & kXpPersonalSuite) != 0;
}

bool CPatchRunner::IsHomeEdition() {
    HomeEditionFacts facts;
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    facts.versionKnown = ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)) != FALSE;
    facts.platformId = info.dwPlatformId;
    facts.major = info.dwMajorVersion;
    facts.minor = info.dwMinorVersion;
    facts.suiteMask = info.wSuiteMask;
    if (facts.versionKnown && facts.major == 6) {
        using GetProductInfoFn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, DWORD*);
        const auto getProductInfo = reinterpret_cast<GetProductInfoFn>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetProductInfo")));
        if (getProductInfo)
            facts.productTypeKnown =
                getProductInfo(facts.major, facts.minor, 0, 0, &facts.productType) != FALSE;
    }
    return IsHomeEditionFor(facts);
}

CPatchRunner::CPatchRunner(boost::shared_ptr<CCMDParser> parser, const std::wstring& patchId,
                           bool checkSignatures)
    : m_parser(std::move(parser)), m_checkSignatures(checkSignatures),
      m_modulePath(GetModulePath()), m_messages(patchId), m_patchId(patchId) {
    static const wchar_t kOp[] = L"CPatchRunner::CPatchRunner";
    m_productFolder = GetProductFolder();
    m_patchesFolder = GetPatchesFolder(m_productFolder);
    TraceLine(kTraceNotify, L"%s: Create %s folder for patches.", kOp, m_patchesFolder.c_str());
    ThrowIfFailed(CreateDirRecurs(m_patchesFolder.c_str()), "CPatchRunner::CPatchRunner");
    m_stateBookPath = m_patchesFolder + L"\\" + kPatchStateFileName;
    m_stateBook = boost::make_shared<CPatchManager>(m_stateBookPath, m_patchesFolder,
                                                    m_productFolder, m_checkSignatures);
    TraceLine(kTraceNotify, L"%s: Created.", kOp);
}

CPatchRunner::~CPatchRunner() = default;

std::wstring CPatchRunner::PackagePath(const std::wstring& folder) const {
    return folder + L"\\" + m_patchId + L".msp";
}

void CPatchRunner::RunHotfixer(const boost::shared_ptr<CUsingGRD>& connection) {
    std::wstring when =
        m_parser->HasOption(L"/when") ? m_parser->GetOptionValue(L"/when") : std::wstring();
    if (m_parser->HasOption(L"/clean"))
        CShutdownScript(m_modulePath).Delete();
    if (IsHomeEdition())
        when = kWhenNow;
    const bool uninstall = m_parser->HasOption(L"/uninstall");
    if (when == kWhenNow) {
        if (uninstall) {
            UninstallPrivatePachesNow();
            RollbackFixActions(m_patchId, m_parser);
        } else {
            ReportInformation(m_messages, kMessagePrepare);
            ConsolePrint(L"%s.", L"Preparing for installation of patches");
            ApplyPrivatePachesNow();
            ApplyFixActions(m_patchId, m_parser);
        }
    } else if (when == kWhenReboot || when.empty()) {
        ScheduleJob(connection, uninstall);
    } else {
        TraceLine(kTraceError, L"%s: %s", kRunOp, ::GetCommandLineW());
        throw std::logic_error("CPatchRunner::RunHotfixer: value of parameter /when");
    }
}

void CPatchRunner::RunInstaller(std::wstring commandLine, const char* operation) {
    PROCESS_INFORMATION info{};
    ThrowIfFailed(CrtProc(commandLine, m_patchesFolder, info), operation);
    zev::UniqueKernelHandle process(info.hProcess), thread(info.hThread);
    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD exitCode = 0;
    if (!::GetExitCodeProcess(process.get(), &exitCode))
        throw SystemError(::GetLastError(), operation);
    if (!IsInstallerSuccess(exitCode))
        throw SystemError(exitCode, operation);
}

void CPatchRunner::ApplyPrivatePachesNow() {
    static const wchar_t kOp[] = L"CPatchRunner::ApplyPrivatePachesNow";
    static const char kOpNarrow[] = "CPatchRunner::ApplyPrivatePachesNow";
    const std::wstring package = PackagePath(m_patchesFolder);
    CUnpacker::ExtractResourceToFile(package);
    // A package that fails its signature check never reaches msiexec.
    if (m_checkSignatures && !IsFileSigned(package, m_productFolder)) {
        TraceLine(kTraceError, L"%s: MSP-patch not signed.", kOp);
        throw std::logic_error("CPatchRunner::ApplyPrivatePachesNow invalid MSP signature.");
    }
    const std::wstring commandLine =
        GetApplyCommandLine({package}, m_parser->HasOption(L"/showui"));
    TraceLine(kTraceNotify, L"%s: Run msiexec. CMD: %s", kOp, commandLine.c_str());
    RunInstaller(commandLine, kOpNarrow);
    TraceLine(kTraceNotify, L"%s: Patches applied", kOp);
    ReportInformation(m_messages, kMessageInstallSuccess);
    ConsolePrint(L"%s.", L"Patches installed successfully");
}

void CPatchRunner::UninstallPrivatePachesNow() {
    static const wchar_t kOp[] = L"CPatchRunner::UninstallPrivatePachesNow";
    static const char kOpNarrow[] = "CPatchRunner::UninstallPrivatePachesNow";
    const std::wstring guid = GetHotfixerGUID();
    if (!m_stateBook->IsPatchInstalled(guid)) {
        TraceLine(kTraceNotify, L"%s: Patch not installed. Nothing to uninstall.", kOp);
        TraceLine(kTraceNotify, L"%s: SUCCESS", kOp);
        return;
    }
    const std::wstring commandLine =
        GetUninstallCommandLine({guid}, m_parser->HasOption(L"/showui"), *m_stateBook);
    TraceLine(kTraceNotify, L"%s: Run msiexec. CMD: %s", kOp, commandLine.c_str());
    RunInstaller(commandLine, kOpNarrow);
    TraceLine(kTraceNotify, L"%s: Patches uninstalled", kOp);
    TraceLine(kTraceNotify, L"%s: SUCCESS", kOp);
}

std::wstring CPatchRunner::GetHotfixerGUID() {
    static const wchar_t kOp[] = L"CPatchRunner::GetHotfixerGUID";
    static const char kOpNarrow[] = "CPatchRunner::GetHotfixerGUID";
    const std::wstring workFolder = GetTempDirPath() + NewGuidString();
    ThrowIfFailed(CreateDirRecurs(workFolder.c_str()), kOpNarrow);
    const std::wstring package = PackagePath(workFolder);
    std::wstring guid;
    try {
        CUnpacker::ExtractResourceToFile(package);
        if (m_checkSignatures && !IsFileSigned(package, m_productFolder)) {
            TraceLine(kTraceError, L"%s: MSP-patch not signed.", kOp);
            throw std::logic_error("CPatchRunner::GetHotfixerGUID invalid MSP signature.");
        }
        ThrowIfFailed(GetMSPPatchGUID(package, guid), kOpNarrow);
    } catch (const std::logic_error& e) {
        DeleteDirRecurs(workFolder);
        TraceLine(kTraceError, L"%s: %S", kOp, e.what());
        throw std::logic_error(e.what());
    }
    DeleteDirRecurs(workFolder);
    return guid;
}

void CPatchRunner::ScheduleJob(const boost::shared_ptr<CUsingGRD>& connection, bool uninstall) {
    if (uninstall && !m_stateBook->IsPatchInstalled(GetHotfixerGUID())) {
        TraceLine(kTraceNotify, L"%s: Need not do anything.", kRunOp);
        return;
    }
    const std::wstring privateFolder = m_patchesFolder + kPrivateFolder;
    ThrowIfFailed(CreateDirRecurs(privateFolder.c_str()), kRunOpNarrow);
    const std::wstring copyPath = privateFolder + L"\\" + GetModuleName();
    if (!::CopyFileW(m_modulePath.c_str(), copyPath.c_str(), FALSE))
        throw SystemError(::GetLastError(), kRunOpNarrow);
    TraceLine(kTraceNotify, L"%s: %s", kRunOp, copyPath.c_str());
    CreateShutdownScript(copyPath);
    if (uninstall) {
        TraceLine(kTraceNotify,
                  L"%s: Patches will be uninstalled when the operating system restarts.", kRunOp);
    } else {
        ReportInformation(m_messages, kMessageAtRestart);
        ConsolePrint(L"%s.", L"Patches will be installed when the operating system restarts");
    }
    connection->SetStatusNeedRebootOS();
}

void CPatchRunner::CreateShutdownScript(const std::wstring& copyPath) {
    static const wchar_t kOp[] = L"CPatchRunner::CreateShutdownScript";
    TraceLine(kTraceNotify, L"%s: Start", kOp);
    const std::wstring parameters = BuildShutdownScriptParameters(*m_parser);
    TraceLine(kTraceNotify, L"%s: Module path: %s", kOp, copyPath.c_str());
    CShutdownScript script(copyPath);
    TraceLine(kTraceNotify, L"%s: Parameters: %s", kOp, parameters.c_str());
    script.Create(parameters);
    TraceLine(kTraceNotify, L"%s: Finish", kOp);
}

} // namespace hotfixer
