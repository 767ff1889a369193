// The product connection against the product stand-ins, each scenario in a
// process of its own (connection_probe): a service already running, one
// that has to be started, the failures that use up all twelve attempts,
// refused messages, and the service name's exact case.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/UniqueHandle.h"
#include "installer/ProductRegistry.h"
#include "installer/system/ProductConnection.h"
#include "tests/support/Process.h"
#include "tests/support/ScratchRegistry.h"
#include "tests/support/TempDir.h"
#include "tests/support/TraceLog.h"

using namespace zev::test;

namespace {

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text)
        out += static_cast<char>(c < 0x80 ? c : '?');
    return out;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

size_t CountMessages(const TraceLog& log, const std::string& text, const std::string& level = "") {
    size_t n = 0;
    for (const auto& r : log.records)
        if (r.message.find(text) != std::string::npos && (level.empty() || r.level == level))
            ++n;
    return n;
}

unsigned long ValueAfter(const std::string& text, const std::string& key) {
    const size_t at = text.find(key);
    return at == std::string::npos ? 0 : std::stoul(text.substr(at + key.size()));
}

/// A product folder with the stand-ins, the product's registry values
/// pointing at it, and every service process started in it ended at the
/// end.
class ProductConnectionScenario : public ::testing::Test {
public:
    void SetUp() override {
        ASSERT_FALSE(hotfixer::CUsingGRD::IsGRDRunning())
            << "a service process of another run is still alive";
        m_env.Set(zev::product::kProductRoot, m_dir.path());
        m_env.Set(zev::product::kTraceRoot, m_dir.path() + L"\\");
        Install(L"grd.exe");
        Install(L"vlremote.dll");
        WriteFileBytes(m_dir / L"vxstub.vpm", "stub");
    }

    void TearDown() override {
        for (const std::string& line : Lines(Journal())) {
            if (line.rfind("start pid=", 0) != 0)
                continue;
            zev::UniqueKernelHandle p(
                ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, ValueAfter(line, "pid=")));
            if (p && ::WaitForSingleObject(p.get(), 0) == WAIT_TIMEOUT) {
                ::TerminateProcess(p.get(), 0xDEAD);
                ::WaitForSingleObject(p.get(), 5000);
            }
        }
        // The probe's current folder was the product folder: let go of it.
        ::SetCurrentDirectoryW(ThisModuleDir().c_str());
    }

    void Install(const std::wstring& built, const std::wstring& as = L"") {
        const std::wstring from = HostPath(ZEV_PRODUCT_TESTBED_DIR) + L"\\" + built;
        ASSERT_TRUE(::CopyFileW(from.c_str(), (m_dir / (as.empty() ? built : as)).c_str(), FALSE))
            << Narrow(from);
    }

    void Setting(const wchar_t* section, const wchar_t* name, const wchar_t* value) {
        ASSERT_TRUE(
            ::WritePrivateProfileStringW(section, name, value, (m_dir / L"testbed.ini").c_str()));
    }

    /// Starts the service as an administrator would and waits until it
    /// answers.
    void StartService() {
        const std::wstring exe = m_dir / L"grd.exe";
        std::wstring cmd = L"\"" + exe + L"\" -s";
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi{};
        ASSERT_TRUE(::CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                     m_dir.path().c_str(), &si, &pi));
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
        for (int i = 0; i < 500 && Journal().find("start pid=") == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_NE(Journal().find("start pid="), std::string::npos);
    }

    ProcessResult Probe(const std::wstring& args) {
        ProcessResult run =
            RunProgram(HostPath(ZEV_CONNECTION_PROBE), L"/fast " + args, L"", 60000);
        std::erase(run.output, '\r');
        return run;
    }

    std::string Journal() const {
        return FileExists(m_dir / L"grd.journal") ? ReadFileBytes(m_dir / L"grd.journal") : "";
    }
    std::string LibraryLog() const {
        return FileExists(m_dir / L"vlremote.log") ? ReadFileBytes(m_dir / L"vlremote.log") : "";
    }
    TraceLog Trace() const { return ReadTraceLog(m_dir / L"ZORArezi.log"); }

    TempDir m_dir;
    ProductEnvironment m_env;
};

} // namespace

TEST_F(ProductConnectionScenario, RunningServiceConnectsAtOnceAndRegistersOwnProcess) {
    StartService();
    EXPECT_TRUE(hotfixer::CUsingGRD::IsGRDRunning());
    const ProcessResult run = Probe(L"/register /reboot");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find("connected started=0"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("sleeps 1000=0 5000=0"), std::string::npos) << run.output;

    const TraceLog trace = Trace();
    EXPECT_EQ(CountMessages(trace, "CUsingGRD::CUsingGRD: the 1 try."), 1u);
    EXPECT_EQ(CountMessages(trace, "CUsingGRD::CUsingGRD: the 2 try."), 0u);
    EXPECT_EQ(CountMessages(trace, "CUsingGRD::CUsingGRD: GRD running."), 1u);
    EXPECT_EQ(CountMessages(trace, "CUsingGRD::CUsingGRD: SUCCESS."), 1u);
    EXPECT_EQ(CountMessages(trace, "CUsingGRD::RegisterSelfInvisible: SUCCESS"), 1u);
    EXPECT_EQ(CountMessages(trace, "CUsingGRD::SetStatusNeedRebootOS: SUCCESS"), 1u);
    EXPECT_EQ(CountMessages(trace, "CUsingGRD::StopGRDIfNeed"), 0u);

    const std::string library = LibraryLog();
    EXPECT_EQ(library.find("StartProcess"), std::string::npos) << library;
    EXPECT_NE(library.find("LoadProxyStub flags=0 name=vxstub.vpm length=10 codepage=-12 -> 0x0"),
              std::string::npos)
        << library;
    // Everything taken from the framework was given back before teardown.
    EXPECT_NE(library.find("HeapFree text=TaskManager"), std::string::npos) << library;
    EXPECT_NE(library.find("Deinitialize blocks=0 proxies=0"), std::string::npos) << library;

    const std::vector<std::string> journal = Lines(Journal());
    ASSERT_EQ(journal.size(), 4u) << Journal();
    EXPECT_EQ(journal[1], "accept class=0xae5e2ea3 id=0x1002 type=0x229000 base=1 processId=" +
                              std::to_string(ValueAfter(run.output, "pid=")));
    EXPECT_EQ(journal[2], "accept class=0x64e52db8 id=0x0");
    EXPECT_EQ(journal[3], "accept class=0x2937151d id=0xc1d5efa5");
    EXPECT_TRUE(hotfixer::CUsingGRD::IsGRDRunning()) << "a service not started by us stays";
}

TEST_F(ProductConnectionScenario, AbsentServiceIsStartedAndStoppedAtTheEnd) {
    const ProcessResult run = Probe(L"/register");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find("connected started=1"), std::string::npos) << run.output;
    // One full wait of thirty checks before the start request, none after.
    EXPECT_NE(run.output.find("sleeps 1000=30 5000=0"), std::string::npos) << run.output;

    const TraceLog trace = Trace();
    EXPECT_EQ(CountMessages(trace, "CUsingGRD::CUsingGRD: GRD not running."), 1u);
    EXPECT_EQ(CountMessages(trace, "CUsingGRD::WaitGRD: Wait GRD service..."), 30u);
    EXPECT_EQ(CountMessages(trace, "cGRD::Start: CreateProcess -s returned: 0x0"), 1u);
    EXPECT_EQ(CountMessages(trace, "CUsingGRD::StopGRDIfNeed: Stop GRD service."), 1u);

    const std::vector<std::string> journal = Lines(Journal());
    ASSERT_EQ(journal.size(), 3u) << Journal();
    EXPECT_NE(journal[0].find(" -s"), std::string::npos) << journal[0];
    EXPECT_EQ(journal[1].rfind("accept class=0xae5e2ea3", 0), 0u) << journal[1];
    EXPECT_EQ(journal[2], "stop");
    for (int i = 0; i < 200 && hotfixer::CUsingGRD::IsGRDRunning(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(hotfixer::CUsingGRD::IsGRDRunning());
}

namespace {

struct FailingConnection {
    const char* name;
    void (*prepare)(ProductConnectionScenario&);
    bool serviceRunning;
    const char* traceLine; ///< written once per attempt
    const char* traceLevel;
    const char* errorText;
};

void PrintTo(const FailingConnection& row, std::ostream* os) {
    *os << row.name;
}

} // namespace

class ProductConnectionFailure : public ProductConnectionScenario,
                                 public ::testing::WithParamInterface<FailingConnection> {};

TEST_P(ProductConnectionFailure, TwelveAttemptsThenTheLastAttemptsText) {
    const FailingConnection& row = GetParam();
    row.prepare(*this);
    if (row.serviceRunning)
        StartService();
    const ProcessResult run = Probe(L"/register");
    ASSERT_EQ(run.exitCode, 1u) << run.output;
    EXPECT_NE(run.output.find(std::string("error: ") + row.errorText + "\n"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("5000=11"), std::string::npos) << run.output;

    const TraceLog trace = Trace();
    EXPECT_EQ(CountMessages(trace, row.traceLine, row.traceLevel), 12u) << row.traceLine;
    EXPECT_EQ(CountMessages(trace, "CUsingGRD::CUsingGRD: the 12 try."), 1u);
    EXPECT_EQ(CountMessages(trace, "CUsingGRD::CUsingGRD: the 13 try."), 0u);
    EXPECT_EQ(CountMessages(trace, "CUsingGRD::CUsingGRD: Wait before next try."), 11u);
    EXPECT_EQ(CountMessages(trace, "CUsingGRD::CUsingGRD: Free Velora."), 1u);
    EXPECT_EQ(CountMessages(trace, "CUsingGRD::CUsingGRD: SUCCESS."), 0u);
    // Nothing reached the product.
    EXPECT_EQ(Journal().find("accept"), std::string::npos) << Journal();
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, ProductConnectionFailure,
    ::testing::Values(
        FailingConnection{"LibraryMissing",
                          [](ProductConnectionScenario& t) {
                              ::DeleteFileW((t.m_dir / L"vlremote.dll").c_str());
                          },
                          true, "CUsingGRD::CUsingGRD: LoadProxyStub error 0x800001c1.", "ERR",
                          "CUsingGRD::CUsingGRD: LoadProxyStub error."},
        FailingConnection{"ExportMissing",
                          [](ProductConnectionScenario& t) {
                              t.Install(L"vlremote_noexport.dll", L"vlremote.dll");
                          },
                          true, "CUsingGRD::CUsingGRD: LoadProxyStub error 0x8000006b.", "ERR",
                          "CUsingGRD::CUsingGRD: LoadProxyStub error."},
        FailingConnection{
            "ProxyStubRefused",
            [](ProductConnectionScenario& t) { ::DeleteFileW((t.m_dir / L"vxstub.vpm").c_str()); },
            true, "CUsingGRD::CUsingGRD: LoadProxyStub error 0x800000c5.", "ERR",
            "CUsingGRD::CUsingGRD: LoadProxyStub error."},
        FailingConnection{
            "ProxyUnavailable",
            [](ProductConnectionScenario& t) { t.Setting(L"vlremote", L"Proxy", L"unavailable"); },
            true, "CUsingGRD::CUsingGRD: cannot attach TM proxy.", "WRN",
            "CUsingGRD::CUsingGRD: cannot attach proxy."}),
    [](const auto& info) { return std::string(info.param.name); });

namespace {

struct UnstartableService {
    const char* name;
    const wchar_t* removed; ///< from the product folder
    const char* startResult;
};

void PrintTo(const UnstartableService& row, std::ostream* os) {
    *os << row.name;
}

} // namespace

class UnstartableServiceScenario : public ProductConnectionScenario,
                                   public ::testing::WithParamInterface<UnstartableService> {};

TEST_P(UnstartableServiceScenario, TwelveStartRequestsPerAttempt) {
    ::DeleteFileW((m_dir / GetParam().removed).c_str());
    const ProcessResult run = Probe(L"");
    ASSERT_EQ(run.exitCode, 1u) << run.output;
    EXPECT_NE(run.output.find("error: CUsingGRD::CUsingGRD: Cann't start GRD service.\n"),
              std::string::npos)
        << run.output;
    const TraceLog trace = Trace();
    EXPECT_EQ(CountMessages(trace, "CUsingGRD::CUsingGRD: the 12 try."), 1u);
    EXPECT_EQ(CountMessages(trace, "CUsingGRD::CUsingGRD: Start GRD service."), 12u);
    // Twelve requests per attempt, two full waits per attempt.
    EXPECT_EQ(CountMessages(trace, std::string("cGRD::Start: CreateProcess -s returned: ") +
                                       GetParam().startResult),
              144u);
    EXPECT_NE(run.output.find("sleeps 1000=720 5000=11"), std::string::npos) << run.output;
}

// Without the library there is nothing to start the service with: the
// requests fail with the loading error instead of calling an empty entry.
INSTANTIATE_TEST_SUITE_P(
    Scenarios, UnstartableServiceScenario,
    ::testing::Values(UnstartableService{"ServiceProgramMissing", L"grd.exe", "0x80000040"},
                      UnstartableService{"LibraryMissing", L"vlremote.dll", "0x800001c1"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProductConnectionScenario, RefusedRegistrationRaisesItsText) {
    Setting(L"grd", L"Refuse", L"0xAE5E2EA3:0x1002");
    StartService();
    const ProcessResult run = Probe(L"/register");
    ASSERT_EQ(run.exitCode, 1u) << run.output;
    EXPECT_NE(run.output.find("error: CUsingGRD::RegisterSelfInvisible: sysSendMsg error.\n"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(CountMessages(
                  Trace(), "CUsingGRD::RegisterSelfInvisible: sysSendMsg error 0x80000043.", "ERR"),
              1u);
    EXPECT_NE(Journal().find("refuse class=0xae5e2ea3 id=0x1002"), std::string::npos);
}

TEST_F(ProductConnectionScenario, RefusedRebootRequestSendsNoStateMessage) {
    Setting(L"grd", L"Refuse", L"0x64E52DB8:0");
    StartService();
    const ProcessResult run = Probe(L"/register /reboot");
    ASSERT_EQ(run.exitCode, 1u) << run.output;
    EXPECT_NE(run.output.find("registered\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("error: CUsingGRD::SetStatusNeedRebootOS: sysSendMsg error.\n"),
              std::string::npos)
        << run.output;
    const std::string journal = Journal();
    EXPECT_NE(journal.find("refuse class=0x64e52db8 id=0x0"), std::string::npos) << journal;
    EXPECT_EQ(journal.find("0x2937151d"), std::string::npos) << journal;
    EXPECT_EQ(CountMessages(Trace(), "Before send message about change product state."), 0u);
}

TEST_F(ProductConnectionScenario, ServiceNameInCapitalsIsNotTheService) {
    TempDir other;
    const std::wstring exe = other / L"GRD.EXE";
    ASSERT_TRUE(::CopyFileW((m_dir / L"grd.exe").c_str(), exe.c_str(), FALSE));
    std::wstring cmd = L"\"" + exe + L"\" -s";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(::CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 other.path().c_str(), &si, &pi));
    zev::UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
    for (int i = 0; i < 500 && !FileExists(other / L"grd.journal"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(hotfixer::CUsingGRD::IsGRDRunning());
    ::TerminateProcess(process.get(), 0);
    ::WaitForSingleObject(process.get(), 5000);
}
