// Stand-in of the product service "grd.exe": runs until it is asked to
// stop, serves the product's pipe for "vlremote.dll", accepts or refuses
// messages as "testbed.ini" says, and writes what happened to
// "grd.journal" in its folder:
//   start pid=<pid> args=<command line>
//   accept class=0x<class> id=0x<id> [type=0x<type> base=<n> processId=<n>]
//   refuse class=0x<class> id=0x<id>
//   stop
// A second instance for the same folder writes "busy" and exits with 2.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <thread>

#include "common/UniqueHandle.h"
#include "installer/system/FrameworkMessages.h"
#include "testbed/product/ProductTestbed.h"

using namespace zev::testbed;

namespace {

std::wstring g_folder;
std::wstring g_journal;
std::mutex g_journalLock;

void Journal(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_journalLock);
    AppendLine(g_journal, line);
}

/// "0xAE5E2EA3:0x1002 0x64E52DB8:0" in [grd] Refuse, read for each message
/// so that a test can change it while the service runs.
bool IsRefused(std::uint32_t msgClass, std::uint32_t msgId) {
    std::wstring list = Setting(g_folder, L"grd", L"Refuse");
    for (wchar_t& c : list)
        if (c == L',' || c == L';')
            c = L' ';
    const wchar_t* p = list.c_str();
    while (*p) {
        wchar_t* end = nullptr;
        const unsigned long cls = std::wcstoul(p, &end, 0);
        if (end == p)
            break;
        unsigned long id = 0;
        if (*end == L':')
            id = std::wcstoul(end + 1, &end, 0);
        if (cls == msgClass && id == msgId)
            return true;
        p = end;
        while (*p == L' ')
            ++p;
    }
    return false;
}

std::string Describe(const GrdRequest& request) {
    std::string text = Format("class=0x%08x id=0x%x", request.msgClass, request.msgId);
    if (request.typeId == velora::kTypeFSSyncRequest && request.payloadSize >= 8) {
        std::uint32_t fields[2];
        std::memcpy(fields, request.payload, sizeof(fields));
        text += Format(" type=0x%x base=%u processId=%u", request.typeId, fields[0], fields[1]);
    } else if (request.typeId) {
        text += Format(" type=0x%x size=%u", request.typeId, request.payloadSize);
    } else if (request.payloadSize) {
        text += Format(" size=%u", request.payloadSize);
    }
    return text;
}

void Serve(HANDLE pipeHandle) {
    zev::UniqueFile pipe(pipeHandle);
    for (;;) {
        GrdRequest request{};
        DWORD got = 0;
        if (!::ReadFile(pipe.get(), &request, sizeof(request), &got, nullptr) || got == 0)
            return;
        GrdReply reply{velora::errOK};
        bool stop = false;
        switch (request.kind) {
        case RequestKind::Ping:
            break;
        case RequestKind::Message:
            if (IsRefused(request.msgClass, request.msgId)) {
                reply.result = velora::errOPERATION_REFUSED;
                Journal("refuse " + Describe(request));
            } else {
                Journal("accept " + Describe(request));
            }
            break;
        case RequestKind::Stop:
            Journal("stop");
            stop = true;
            break;
        default:
            reply.result = velora::errPARAMETER_INVALID;
        }
        DWORD written = 0;
        ::WriteFile(pipe.get(), &reply, sizeof(reply), &written, nullptr);
        if (stop) {
            ::FlushFileBuffers(pipe.get());
            ::ExitProcess(0);
        }
    }
}

HANDLE NewInstance(const std::wstring& name, bool first) {
    return ::CreateNamedPipeW(
        name.c_str(), PIPE_ACCESS_DUPLEX | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
        sizeof(GrdReply), sizeof(GrdRequest), 0, nullptr);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    g_folder = ModuleFolder(reinterpret_cast<const void*>(&Journal));
    g_journal = g_folder + L"\\" + kJournalFile;
    const std::wstring name = PipeName(g_folder);

    HANDLE pipe = NewInstance(name, true);
    if (pipe == INVALID_HANDLE_VALUE) {
        Journal(Format("busy pid=%lu", ::GetCurrentProcessId()));
        return 2;
    }
    std::string args;
    for (const wchar_t* c = ::GetCommandLineW(); *c; ++c)
        args += static_cast<char>(*c < 0x80 ? *c : '?');
    Journal(Format("start pid=%lu args=%s", ::GetCurrentProcessId(), args.c_str()));

    for (;;) {
        if (::ConnectNamedPipe(pipe, nullptr) || ::GetLastError() == ERROR_PIPE_CONNECTED)
            std::thread(Serve, pipe).detach();
        else
            ::CloseHandle(pipe);
        pipe = NewInstance(name, false);
        if (pipe == INVALID_HANDLE_VALUE)
            return 1;
    }
}
