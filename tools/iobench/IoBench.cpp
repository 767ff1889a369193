// Sequential ReadAt/WriteAt throughput through an IO object, against plain
// ReadFile/WriteFile on the same file, printed as MB/s and as a ratio.
//
// Both sides overwrite and read the same preallocated file, so that neither
// pays for truncating or growing it; only the transfer loop is timed (the
// open and close are not), and the median of the rounds is printed. The
// two sides alternate which goes first. The ratio printed is the median of
// the rounds' own ratios.
//
// Usage: wfsys_iobench [folder] [MiB per pass] [rounds]
#include "common/UniqueHandle.h"
#include "host/Host.h"
#include "plugin/frame/Entry.h"
#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PropertyIds.h"
#include "plugin/io/IoFlags.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace zev::frame;
using namespace zev::wfsys;

namespace {

double Seconds() {
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Rate(std::uint64_t bytes, double seconds) {
    return seconds > 0 ? static_cast<double>(bytes) / (1024.0 * 1024.0) / seconds : 0;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

/// One pass through an IO object as a client drives it; MB/s of the loop.
double IoPass(zev::host::Host& host, const std::wstring& path, bool write, std::uint32_t block,
              std::uint64_t total, std::vector<char>& buffer) {
    hOBJ obj = nullptr;
    if (Failed(host.Create(host.Root(), &obj, IID_IO)))
        return 0;
    host.SetDWord(obj, kPropOpenMode, kOpenExisting);
    host.SetDWord(obj, kPropAccessMode, write ? fACCESS_READ | fACCESS_WRITE : fACCESS_READ);
    host.SetWide(obj, kPropFullName, path);
    if (Failed(host.CreateDone(obj))) {
        host.Close(obj);
        return 0;
    }
    const double start = Seconds();
    bool ok = true;
    for (std::uint64_t offset = 0; ok && offset < total; offset += block) {
        std::uint32_t done = 0;
        const Result r = write ? host.CallMethod(obj, 2, &done, offset,
                                                 static_cast<const void*>(buffer.data()), block)
                               : host.CallMethod(obj, 1, &done, offset,
                                                 static_cast<void*>(buffer.data()), block);
        ok = Succeeded(r) && done == block;
    }
    const double seconds = Seconds() - start;
    host.Close(obj);
    return ok ? Rate(total, seconds) : 0;
}

/// The same pass with ReadFile/WriteFile on a handle opened the same way.
double PlainPass(const std::wstring& path, bool write, std::uint32_t block, std::uint64_t total,
                 std::vector<char>& buffer) {
    zev::UniqueFile file(::CreateFileW(path.c_str(),
                                       write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS, nullptr));
    if (!file)
        return 0;
    const double start = Seconds();
    bool ok = true;
    for (std::uint64_t offset = 0; ok && offset < total; offset += block) {
        DWORD done = 0;
        ok = (write ? ::WriteFile(file.get(), buffer.data(), block, &done, nullptr)
                    : ::ReadFile(file.get(), buffer.data(), block, &done, nullptr)) &&
             done == block;
    }
    const double seconds = Seconds() - start;
    return ok ? Rate(total, seconds) : 0;
}

bool Preallocate(const std::wstring& path, std::uint64_t size) {
    zev::UniqueFile file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file)
        return false;
    std::vector<char> chunk(1 << 20, 'p');
    for (std::uint64_t done = 0; done < size; done += chunk.size()) {
        DWORD wrote = 0;
        if (!::WriteFile(file.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &wrote,
                         nullptr))
            return false;
    }
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring folder = argc > 1 && argv[1][0] ? argv[1] : temp;
    while (!folder.empty() && folder.back() == L'\\')
        folder.pop_back();
    const std::uint64_t mib = argc > 2 ? std::wcstoull(argv[2], nullptr, 10) : 256;
    const int rounds = argc > 3 ? std::max(1, _wtoi(argv[3])) : 15;
    const std::wstring path = folder + L"\\wfsys-iobench.bin";
    const std::uint64_t fileSize = mib * 1024 * 1024;
    if (!Preallocate(path, fileSize)) {
        std::fprintf(stderr, "cannot create %ls\n", path.c_str());
        return 1;
    }

    zev::host::Host host;
    Result loaded = 0;
    if (PluginEntry(host.Root(), kReasonLoad, &loaded) != 1) {
        std::fprintf(stderr, "the plug-in did not load: 0x%08X\n", static_cast<unsigned>(loaded));
        return 1;
    }
    host.TraceLevel() = 0; // tracing is not what is measured

    std::printf("file %ls, %llu MiB per pass, median of %d rounds\n", path.c_str(),
                static_cast<unsigned long long>(mib), rounds);
    std::printf("%8s %14s %14s %7s %14s %14s %7s\n", "block", "IO WriteAt", "WriteFile", "ratio",
                "IO ReadAt", "ReadFile", "ratio");
    bool allOk = true;
    for (std::uint32_t block : {4096u, 65536u, 1048576u}) {
        const std::uint64_t total = fileSize / block * block;
        std::vector<char> buffer(block, 'b');
        std::vector<double> ioWrite, plainWrite, ioRead, plainRead, writeRatio, readRatio;
        for (int round = 0; round < rounds; ++round) {
            // Each round measures both sides back to back (alternating which
            // goes first), so that the ratio of a round compares passes that
            // met the same load on the machine.
            double iw = 0, pw = 0, ir = 0, pr = 0;
            if (round % 2 == 0) {
                pw = PlainPass(path, true, block, total, buffer);
                iw = IoPass(host, path, true, block, total, buffer);
                pr = PlainPass(path, false, block, total, buffer);
                ir = IoPass(host, path, false, block, total, buffer);
            } else {
                iw = IoPass(host, path, true, block, total, buffer);
                pw = PlainPass(path, true, block, total, buffer);
                ir = IoPass(host, path, false, block, total, buffer);
                pr = PlainPass(path, false, block, total, buffer);
            }
            ioWrite.push_back(iw);
            plainWrite.push_back(pw);
            ioRead.push_back(ir);
            plainRead.push_back(pr);
            writeRatio.push_back(pw > 0 ? iw / pw : 0);
            readRatio.push_back(pr > 0 ? ir / pr : 0);
        }
        const double iw = Median(ioWrite), pw = Median(plainWrite);
        const double ir = Median(ioRead), pr = Median(plainRead);
        allOk = allOk && iw > 0 && pw > 0 && ir > 0 && pr > 0;
        std::printf("%7uK %9.0f MB/s %9.0f MB/s %6.2fx %9.0f MB/s %9.0f MB/s %6.2fx\n",
                    block / 1024, iw, pw, Median(writeRatio), ir, pr, Median(readRatio));
    }
    Result ignored = 0;
    PluginEntry(host.Root(), kReasonReleaseBindings, &ignored);
    PluginEntry(host.Root(), kReasonUnload, &ignored);
    ::DeleteFileW(path.c_str());
    if (!allOk) {
        std::fprintf(stderr, "a pass failed\n");
        return 1;
    }
    return 0;
}
