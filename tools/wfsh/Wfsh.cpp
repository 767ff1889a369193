#include "tools/wfsh/Wfsh.h"

#include "host/Host.h"
#include "plugin/frame/ExportIds.h"
#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PropertyIds.h"

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <functional>
#include <map>

namespace zev::wfsh {

using frame::hOBJ;
using frame::Result;

namespace {

constexpr wchar_t kPluginFile[] = L"wfsys.vpm";
constexpr std::uint32_t kReadAccess = 0x1;
constexpr std::uint32_t kOpenExisting = 0x1;
constexpr std::uint32_t kCopyOverwrite = 0x1;
constexpr std::uint32_t kMoveReplaceAtRestart =
    MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT;
constexpr std::uint32_t kMoveReplace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED;
constexpr std::uint32_t kRunWait = 0x1;
constexpr std::uint32_t kFolderExisted = 3;
constexpr std::uint32_t kPropObjPtrMask = 0x20901001;
constexpr std::uint32_t kPropObjPtrSize = 0x20500045;
constexpr std::uint32_t kObjPtrNext = 7;
constexpr std::uint32_t kIoReadAt = 1;
constexpr std::uint32_t kIoQuerySize = 3;
constexpr std::uint32_t kOsPtrCreate = 1, kOsIOCreate = 2, kOsCopy = 3, kOsRename = 4,
                        kOsDelete = 5;
constexpr std::size_t kCatChunk = 0x10000;
constexpr std::uint32_t kTraceEverything = 900;

/// Framework codes in words.
const std::map<std::uint32_t, const char*> kCodeWords = {
    {0x800000C5, "not found"},
    {0x80000045, "access denied"},
    {0x8000004F, "locked by another program"},
    {0x800000D1, "already exists"},
    {0x80000046, "invalid argument"},
    {0x80000062, "disk full"},
    {0x8000A001, "could not be deleted"},
    {0x80000056, "no more entries"},
    {0x800000C3, "cannot be opened"},
    {0x80000040, "unexpected failure"},
};

std::string Narrow(const std::wstring& w) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? n - 1 : 0, '\0');
    if (n > 1)
        ::WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, s.data(), n, nullptr, nullptr);
    return s;
}

std::wstring FullPath(const std::wstring& path) {
    wchar_t buffer[MAX_PATH * 4];
    const DWORD n = ::GetFullPathNameW(path.c_str(), MAX_PATH * 4, buffer, nullptr);
    return n && n < MAX_PATH * 4 ? std::wstring(buffer, n) : path;
}

class Shell {
public:
    Shell(std::FILE* out, std::FILE* err)
        : m_blocksAtStart(m_host.LiveBlocks()), m_out(out), m_err(err) {}
    ~Shell() {
        for (hOBJ obj : m_objects)
            if (m_host.IsAlive(obj))
                m_host.Close(obj);
        m_host.UnloadPlugins();
        // The plug-in gives back every framework-heap block it took.
        if (m_host.LiveBlocks() > m_blocksAtStart)
            std::fprintf(m_err, "wfsh: %zu framework-heap blocks left behind\n",
                         m_host.LiveBlocks() - m_blocksAtStart);
    }

    bool Load(bool trace) {
        if (trace) {
            m_host.TraceLevel() = kTraceEverything;
            m_host.SetTraceSink([this](const host::TraceLine& line) {
                std::fprintf(m_err, "trace %u: %s\n", line.level, line.text.c_str());
            });
        }
        wchar_t self[MAX_PATH];
        const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring path(self, n);
        path = path.substr(0, path.find_last_of(L"\\/") + 1) + kPluginFile;
        const auto outcome = m_host.LoadPlugin(path);
        if (outcome.returned != 1) {
            std::fprintf(m_err, "wfsh: cannot load %s (framework code 0x%08X, Windows error %lu)\n",
                         Narrow(path).c_str(), static_cast<unsigned>(outcome.result),
                         outcome.windowsError);
            return false;
        }
        Result r = m_host.Create(m_host.Root(), &m_os, frame::IID_OS, frame::kPidWfsys);
        if (r >= 0)
            r = m_host.CreateDone(m_os);
        if (r < 0) {
            std::fprintf(m_err, "wfsh: the object system cannot be created (0x%08X)\n",
                         static_cast<unsigned>(r));
            return false;
        }
        m_objects.push_back(m_os);
        return true;
    }

    int Dispatch(const std::wstring& command, const std::vector<std::wstring>& a) {
        m_command = Narrow(command);
        auto flag = [&](const wchar_t* f) { return !a.empty() && a[0] == f; };
        auto rest = [&](std::size_t from) {
            return std::vector<std::wstring>(a.begin() + std::min(from, a.size()), a.end());
        };
        if (command == L"ls")
            return flag(L"-l") ? List(rest(1), true) : List(a, false);
        if (command == L"stat" && a.size() == 1)
            return Stat(a[0]);
        if (command == L"cat" && a.size() == 1)
            return Cat(a[0]);
        if (command == L"cp" && (a.size() == 2 || (a.size() == 3 && flag(L"-f"))))
            return Copy(rest(a.size() - 2), a.size() == 3);
        if (command == L"mv" && a.size() == 2)
            return Move(a[0], a[1]);
        if (command == L"mv" && a.size() == 3 && flag(L"--at-restart"))
            return MoveAtRestart(a[1], a[2]);
        if (command == L"rm" && a.size() == 1)
            return Remove(a[0]);
        if (command == L"rmdir" && a.size() == 2 && flag(L"-r"))
            return RemoveTree(a[1]);
        if (command == L"mkdir" && (a.size() == 1 || (a.size() == 2 && flag(L"-p"))))
            return MakeFolder(a.back(), a.size() == 2);
        if (command == L"tmpname" && a.size() <= 2)
            return TempName(a);
        if (command == L"df" && a.size() <= 1)
            return FreeSpace(a.empty() ? std::wstring(L".") : a[0]);
        if (command == L"run" && !a.empty())
            return RunProgram(a);
        std::fprintf(m_err, "wfsh: unknown command or wrong arguments: %s\n", m_command.c_str());
        Usage(m_err);
        return 2;
    }

    static void Usage(std::FILE* f) {
        std::fputs("usage: wfsh [--trace] command [arguments]\n"
                   "  ls [-l] [mask]            list the current folder\n"
                   "  stat FILE                 size, attributes and names of a file\n"
                   "  cat FILE                  print a file\n"
                   "  cp [-f] SOURCE DEST       copy (-f: overwrite)\n"
                   "  mv SOURCE DEST            move or rename\n"
                   "  mv --at-restart SRC DEST  replace DEST with SRC at the next restart\n"
                   "  rm FILE                   delete a file\n"
                   "  rmdir -r FOLDER           remove a folder with its contents\n"
                   "  mkdir [-p] FOLDER         create a folder (-p: with its parents)\n"
                   "  tmpname [FOLDER [PREFIX]] create a new temporary file\n"
                   "  df [PATH]                 free bytes on the drive of PATH\n"
                   "  run PROGRAM [ARGS...]     run a program and wait for its exit code\n",
                   f);
    }

private:
    hOBJ Track(hOBJ obj) {
        if (obj)
            m_objects.push_back(obj);
        return obj;
    }
    void Drop(hOBJ obj) {
        if (obj && m_host.IsAlive(obj))
            m_host.Close(obj);
        std::erase(m_objects, obj);
    }
    hOBJ String(const std::wstring& text) {
        hOBJ s = nullptr;
        if (m_host.CreateQuick(m_host.Root(), &s, frame::kIidString) < 0)
            return nullptr;
        m_host.SetWide(s, frame::kPropFullName, text);
        return Track(s);
    }
    int Fail(const std::string& what, Result code, hOBJ errorSource = nullptr) {
        const auto word = kCodeWords.find(static_cast<std::uint32_t>(code));
        std::uint32_t winError = 0;
        if (!errorSource)
            errorSource = m_os;
        if (auto e = m_host.GetDWord(errorSource, frame::kPropWinError))
            winError = *e;
        std::string text = word != kCodeWords.end() ? word->second : "failed";
        std::fprintf(m_err, "wfsh: %s: %s: %s (framework code 0x%08X", m_command.c_str(),
                     what.c_str(), text.c_str(), static_cast<unsigned>(code));
        if (winError)
            std::fprintf(m_err, ", Windows error %u", winError);
        std::fputs(")\n", m_err);
        return 1;
    }
    template <typename F> F Export(std::uint32_t fid) {
        return reinterpret_cast<F>(m_host.LookupExport(frame::kPidWfsys, fid));
    }
    hOBJ OpenIo(const std::wstring& path, Result* r) {
        hOBJ name = String(FullPath(path));
        hOBJ io = nullptr;
        *r = m_host.CallMethod(m_os, kOsIOCreate, &io, name, kReadAccess, kOpenExisting);
        return Track(io);
    }

    int List(const std::vector<std::wstring>& a, bool longForm) {
        if (a.size() > 1)
            return Dispatch(L"?", {});
        hOBJ folder = String(FullPath(L"."));
        hOBJ ptr = nullptr;
        Result r = m_host.CallMethod(m_os, kOsPtrCreate, &ptr, folder);
        if (r < 0)
            return Fail(".", r);
        Track(ptr);
        if (!a.empty())
            m_host.SetWide(ptr, kPropObjPtrMask, a[0]);
        int count = 0;
        while ((r = m_host.CallMethod(ptr, kObjPtrNext)) >= 0) {
            const std::wstring name = m_host.GetWide(ptr, frame::kPropName).value_or(L"?");
            if (longForm) {
                const std::uint32_t attributes =
                    m_host.GetDWord(ptr, frame::kPropAttributes).value_or(0);
                std::uint64_t size = 0;
                std::uint32_t got = 0;
                m_host.Get(ptr, &got, kPropObjPtrSize, &size, sizeof size);
                const bool folderEntry = attributes & FILE_ATTRIBUTE_DIRECTORY;
                std::fprintf(m_out, "%c%c%c %12llu  %s%s\n", folderEntry ? 'd' : '-',
                             attributes & FILE_ATTRIBUTE_READONLY ? 'r' : '-',
                             attributes & FILE_ATTRIBUTE_HIDDEN ? 'h' : '-',
                             static_cast<unsigned long long>(folderEntry ? 0 : size),
                             Narrow(name).c_str(), folderEntry ? "\\" : "");
            } else {
                std::fprintf(m_out, "%s\n", Narrow(name).c_str());
            }
            ++count;
        }
        if (r != static_cast<Result>(0x80000056) && r != static_cast<Result>(0x80000049))
            return Fail(".", r, ptr);
        if (longForm)
            std::fprintf(m_out, "%d entries\n", count);
        return 0;
    }

    int Stat(const std::wstring& path) {
        Result r = 0;
        hOBJ io = OpenIo(path, &r);
        if (r < 0)
            return Fail(Narrow(path), r);
        std::uint64_t size = 0;
        m_host.CallMethod(io, kIoQuerySize, &size, std::uint32_t{0});
        const std::uint32_t attributes = m_host.GetDWord(io, frame::kPropAttributes).value_or(0);
        std::fprintf(m_out, "name:       %s\n",
                     Narrow(m_host.GetWide(io, frame::kPropFullName).value_or(L"")).c_str());
        std::fprintf(m_out, "short name: %s\n",
                     Narrow(m_host.GetWide(io, 0x3090200B).value_or(L"")).c_str());
        std::fprintf(m_out, "size:       %llu bytes\n", static_cast<unsigned long long>(size));
        std::fprintf(m_out, "attributes: 0x%08X%s%s%s\n", attributes,
                     attributes & FILE_ATTRIBUTE_READONLY ? " read-only" : "",
                     attributes & FILE_ATTRIBUTE_HIDDEN ? " hidden" : "",
                     attributes & FILE_ATTRIBUTE_ARCHIVE ? " archive" : "");
        Drop(io);
        return 0;
    }

    int Cat(const std::wstring& path) {
        Result r = 0;
        hOBJ io = OpenIo(path, &r);
        if (r < 0)
            return Fail(Narrow(path), r);
        std::vector<char> buffer(kCatChunk);
        for (std::uint64_t offset = 0;;) {
            std::uint32_t read = 0;
            r = m_host.CallMethod(io, kIoReadAt, &read, offset, static_cast<void*>(buffer.data()),
                                  static_cast<std::uint32_t>(buffer.size()));
            if (r < 0 || read == 0)
                break;
            std::fwrite(buffer.data(), 1, read, m_out);
            offset += read;
        }
        if (r < 0 && r != static_cast<Result>(0x80000049))
            return Fail(Narrow(path), r, io);
        Drop(io);
        return 0;
    }

    int Copy(const std::vector<std::wstring>& a, bool overwrite) {
        const Result r =
            m_host.CallMethod(m_os, kOsCopy, String(FullPath(a[0])), String(FullPath(a[1])),
                              std::uint32_t{overwrite ? kCopyOverwrite : 0});
        return r < 0 ? Fail(Narrow(a[0]) + " -> " + Narrow(a[1]), r) : 0;
    }

    int Move(const std::wstring& from, const std::wstring& to) {
        const Result r = m_host.CallMethod(m_os, kOsRename, String(FullPath(from)),
                                           String(FullPath(to)), std::uint32_t{0});
        return r < 0 ? Fail(Narrow(from) + " -> " + Narrow(to), r) : 0;
    }

    int MoveAtRestart(const std::wstring& from, const std::wstring& to) {
        using Fn = Result (*)(hOBJ, hOBJ, std::uint32_t);
        auto move = Export<Fn>(frame::kFidMoveFileDelayed);
        if (!move)
            return Fail("MoveFileDelayed", static_cast<Result>(0x80000101));
        const Result r = move(String(FullPath(from)), String(FullPath(to)), kMoveReplaceAtRestart);
        if (r < 0)
            return Fail(Narrow(from) + " -> " + Narrow(to), r);
        std::fprintf(m_out, "%s will replace %s at the next restart\n", Narrow(from).c_str(),
                     Narrow(to).c_str());
        return 0;
    }

    int Remove(const std::wstring& path) {
        const Result r = m_host.CallMethod(m_os, kOsDelete, String(FullPath(path)));
        return r < 0 ? Fail(Narrow(path), r) : 0;
    }

    int RemoveTree(const std::wstring& path) {
        using Fn = Result (*)(hOBJ);
        auto remove = Export<Fn>(frame::kFidRemoveDir);
        if (!remove)
            return Fail("RemoveDir", static_cast<Result>(0x80000101));
        const Result r = remove(String(FullPath(path)));
        return r < 0 ? Fail(Narrow(path), r) : 0;
    }

    int MakeFolder(const std::wstring& path, bool parents) {
        using Fn = Result (*)(hOBJ);
        auto make = Export<Fn>(frame::kFidCreateDirectoryRecursively);
        if (!make)
            return Fail("CreateDirectoryRecursively", static_cast<Result>(0x80000101));
        const DWORD before = ::GetFileAttributesW(FullPath(path).c_str());
        if (!parents && before != INVALID_FILE_ATTRIBUTES)
            return Fail(Narrow(path), static_cast<Result>(0x800000D1));
        const Result r = make(String(FullPath(path)));
        if (r < 0)
            return Fail(Narrow(path), r);
        if (r == static_cast<Result>(kFolderExisted) && !parents)
            return Fail(Narrow(path), static_cast<Result>(0x800000D1));
        return 0;
    }

    int TempName(const std::vector<std::wstring>& a) {
        using Fn = Result (*)(hOBJ, const void*, std::int32_t);
        auto make = Export<Fn>(frame::kFidMakeTempFileName);
        if (!make)
            return Fail("MakeTempFileName", static_cast<Result>(0x80000101));
        hOBJ s = String(a.empty() ? std::wstring() : FullPath(a[0]));
        const std::wstring prefix = a.size() > 1 ? a[1] : L"wfs";
        const Result r = make(s, prefix.c_str(), frame::kCodePageUtf16);
        if (r < 0)
            return Fail(a.empty() ? "temporary folder" : Narrow(a[0]), r);
        std::fprintf(m_out, "%s\n",
                     Narrow(m_host.GetWide(s, frame::kPropFullName).value_or(L"")).c_str());
        return 0;
    }

    int FreeSpace(const std::wstring& path) {
        using Fn = Result (*)(hOBJ, std::uint64_t*);
        auto free = Export<Fn>(frame::kFidFreeSpace);
        if (!free)
            return Fail("GetFreeSpace", static_cast<Result>(0x80000101));
        const std::wstring full = FullPath(path);
        std::uint64_t bytes = 0;
        const Result r = free(String(full), &bytes);
        if (r < 0)
            return Fail(Narrow(path), r);
        std::fprintf(m_out, "%s %llu bytes free (%.1f MiB)\n", Narrow(full.substr(0, 2)).c_str(),
                     static_cast<unsigned long long>(bytes), bytes / (1024.0 * 1024.0));
        return 0;
    }

    int RunProgram(const std::vector<std::wstring>& a) {
        using Fn = Result (*)(hOBJ, hOBJ, hOBJ, std::uint32_t*, std::uint32_t);
        auto run = Export<Fn>(frame::kFidStartProgram);
        if (!run)
            return Fail("RunProgram", static_cast<Result>(0x80000101));
        std::wstring arguments;
        for (std::size_t i = 1; i < a.size(); ++i)
            arguments += (i > 1 ? L" " : L"") + a[i];
        std::uint32_t exitCode = 0;
        const Result r = run(String(a[0]), String(arguments), nullptr, &exitCode, kRunWait);
        if (r < 0)
            return Fail(Narrow(a[0]), r);
        std::fprintf(m_out, "exit code %u\n", exitCode);
        return 0;
    }

    host::Host m_host;
    std::size_t m_blocksAtStart;
    hOBJ m_os = nullptr;
    std::vector<hOBJ> m_objects;
    std::FILE* m_out;
    std::FILE* m_err;
    std::string m_command;
};

} // namespace

int Run(const std::vector<std::wstring>& args, std::FILE* out, std::FILE* err) {
    std::vector<std::wstring> a = args;
    bool trace = false;
    if (!a.empty() && a[0] == L"--trace") {
        trace = true;
        a.erase(a.begin());
    }
    if (a.empty() || a[0] == L"--help" || a[0] == L"-h") {
        Shell::Usage(a.empty() ? err : out);
        return a.empty() ? 2 : 0;
    }
    Shell shell(out, err);
    if (!shell.Load(trace))
        return 1;
    const std::wstring command = a[0];
    a.erase(a.begin());
    return shell.Dispatch(command, a);
}

} // namespace zev::wfsh
