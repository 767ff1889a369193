// Entries per second when walking one folder of N files: a bare
// FindFirstFileW/FindNextFileW loop, and ObjPtr over the find functions and
// over the native reader. Each round walks the folder once per way, in
// turn; the figures are medians over the rounds, the ratio is the median of
// the per-round ratios.
//   wfsys_objptrbench.exe [entries] [rounds]
#include "common/UniqueHandle.h"
#include "host/Host.h"
#include "plugin/frame/Entry.h"
#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PropertyIds.h"
#include "plugin/frame/Settings.h"
#include "plugin/objptr/ObjPtrRecord.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace zev;

namespace {

constexpr std::uint32_t kSlotNext = 7;

double Now() {
    LARGE_INTEGER f, t;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

/// Seconds for one bare walk; `*count` receives the files seen.
double BareWalk(const std::wstring& folder, std::size_t* count) {
    const double start = Now();
    WIN32_FIND_DATAW data;
    std::size_t n = 0;
    HANDLE h = ::FindFirstFileW((folder + L"*").c_str(), &data);
    if (h != INVALID_HANDLE_VALUE) {
        do
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                ++n;
        while (::FindNextFileW(h, &data));
        ::FindClose(h);
    }
    *count = n;
    return Now() - start;
}

/// Seconds for one walk through an ObjPtr (files and folders passes).
double PtrWalk(host::Host& host, const std::wstring& folder, bool native, std::size_t* count) {
    const double start = Now();
    frame::hOBJ p = nullptr;
    host.Create(host.Root(), &p, frame::IID_OBJPTR);
    host.SetWide(p, frame::kPropFolder, folder);
    if (native)
        host.SetDWord(p, wfsys::objprop::kNativeEnum, 1);
    host.CreateDone(p);
    std::size_t n = 0;
    while (host.CallMethod(p, kSlotNext) == frame::errOK)
        ++n;
    host.Close(p);
    *count = n;
    return Now() - start;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::size_t entries = argc > 1 ? std::wcstoul(argv[1], nullptr, 10) : 10000;
    const int rounds = argc > 2 ? std::max(1, _wtoi(argv[2])) : 9;

    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring folder =
        std::wstring(temp) + L"objptrbench-" + std::to_wstring(::GetCurrentProcessId()) + L"\\";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    for (std::size_t i = 0; i < entries; ++i)
        UniqueFile(::CreateFileW((folder + L"entry" + std::to_wstring(i) + L".dat").c_str(),
                                 GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));

    host::Host host;
    host.TraceLevel() = frame::kTraceError; // a production trace level
    frame::Result loadResult = 0;
    if (wfsys::PluginEntry(host.Root(), frame::kReasonLoad, &loadResult) != 1) {
        std::fprintf(stderr, "the plug-in did not load\n");
        return 1;
    }

    std::vector<double> bare, find, native, findRatio, nativeRatio;
    std::size_t seen[3] = {};
    for (int round = 0; round < rounds; ++round) {
        const double b = BareWalk(folder, &seen[0]);
        const double f = PtrWalk(host, folder, false, &seen[1]);
        const double n = wfsys::g_nativeApi ? PtrWalk(host, folder, true, &seen[2]) : 0;
        bare.push_back(seen[0] / b);
        find.push_back(seen[1] / f);
        findRatio.push_back(b / f);
        if (n > 0) {
            native.push_back(seen[2] / n);
            nativeRatio.push_back(b / n);
        }
    }
    std::printf("folder of %zu files, %d rounds (medians)\n", entries, rounds);
    std::printf("  FindFirstFileW/FindNextFileW loop : %10.0f entries/s (%zu seen)\n", Median(bare),
                seen[0]);
    std::printf("  ObjPtr, find functions            : %10.0f entries/s (%zu seen), %.2fx\n",
                Median(find), seen[1], Median(findRatio));
    if (!native.empty())
        std::printf("  ObjPtr, native reader             : %10.0f entries/s (%zu seen), %.2fx\n",
                    Median(native), seen[2], Median(nativeRatio));

    wfsys::PluginEntry(host.Root(), frame::kReasonReleaseBindings, &loadResult);
    wfsys::PluginEntry(host.Root(), frame::kReasonUnload, &loadResult);
    for (std::size_t i = 0; i < entries; ++i)
        ::DeleteFileW((folder + L"entry" + std::to_wstring(i) + L".dat").c_str());
    ::RemoveDirectoryW(folder.c_str());
    return 0;
}
