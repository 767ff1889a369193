#include "plugin/fs/DirHelpers.h"

#include "plugin/frame/BoundTables.h"
#include "plugin/frame/Identifiers.h"
#include "plugin/frame/MessageIds.h"
#include "plugin/frame/PluginTrace.h"
#include "plugin/frame/PropertyIds.h"
#include "plugin/frame/Settings.h"
#include "plugin/frame/SystemFunctions.h"
#include "plugin/fs/HostCalls.h"
#include "plugin/fs/Impersonation.h"
#include "plugin/fs/KernelCalls.h"
#include "plugin/fs/PathForms.h"
#include "plugin/fs/WinErrorMap.h"
#include "plugin/io/IoFlags.h"
#include "plugin/io/IoRecord.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace zev::wfsys {

using namespace zev::frame;

namespace {

constexpr char kTempPrefix[] = "vl_";
constexpr std::size_t kPrefixWideChars = 128;
constexpr std::size_t kPrefixNarrowBytes = 256;
constexpr std::size_t kCopyStackBuffer = 1024;
constexpr std::uint64_t kCopyHeapLimit = 0x8000;
constexpr std::uint32_t kCopyMoveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT;
constexpr wchar_t kEnvNames[][10] = {L"%Temp%", L"%TMP%", L"%TMPDIR%"};
constexpr std::uint32_t kOpenReadExisting = kOpenExisting;
constexpr std::uint32_t kOpenWriteReplace = 119; ///< no sharing, create always
constexpr std::uint32_t kOpenWriteNew = 114;     ///< no sharing, create new
constexpr std::uint32_t kAccessReadWrite = fACCESS_READ | fACCESS_WRITE;
constexpr char kWinInitFile[] = "\\WinInit.Ini";
constexpr char kRenameSection[] = "[Rename]\r\n";
constexpr std::size_t kWinInitLineMax = 1024;

const void* NarrowPart(const void* name) {
    return g_wideMode ? static_cast<const void*>("") : name;
}
const void* WidePart(const void* name) {
    return g_wideMode ? name : static_cast<const void*>(L"");
}

/// A name read from a framework object (ReadTextProperty) into a 520-byte
/// buffer that grows on the object's heap.
class NameText {
public:
    Result Read(hOBJ obj, std::uint32_t propId = 0) {
        Drop();
        m_obj = obj;
        std::memset(m_initial, 0, sizeof m_initial);
        m_text = m_initial;
        m_result = ReadTextProperty(obj, &m_text, sizeof m_initial, propId, &m_count, &m_iid);
        return m_result;
    }
    ~NameText() { Drop(); }
    void* Text() { return m_text; }
    const wchar_t* Wide() const { return static_cast<const wchar_t*>(m_text); }
    const char* Narrow() const { return static_cast<const char*>(m_text); }
    bool Empty() const { return g_wideMode ? Wide()[0] == L'\0' : Narrow()[0] == '\0'; }
    std::uint32_t InterfaceId() const { return m_iid; }

private:
    void Drop() {
        if (m_obj && m_text != m_initial)
            m_obj->sys->ObjHeapFree(m_obj, m_text);
        m_text = m_initial;
    }
    hOBJ m_obj = nullptr;
    alignas(wchar_t) unsigned char m_initial[kNameBufferBytes] = {};
    void* m_text = m_initial;
    std::uint32_t m_count = 0;
    std::uint32_t m_iid = 0;
    Result m_result = errOK;
};

bool Supports(hOBJ obj, std::uint32_t iid) {
    return obj && obj->sys->ObjectQueryInterface(obj, iid) == errOK;
}

template <typename C> std::size_t TextLength(const C* s) {
    std::size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

template <typename C> bool PathPresent(C* path, std::size_t end, Result* error) {
    const C saved = path[end];
    path[end] = 0;
    const DWORD attributes = AttributesOf(path);
    const DWORD gle = ::GetLastError();
    path[end] = saved;
    *error = errOK;
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return true;
    *error = MapWin32Error(gle);
    return false;
}

template <typename C> BOOL MakeFolder(const C* path, SECURITY_ATTRIBUTES* security) {
    if (!g_kernel.fCreateDirectory) {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    if constexpr (sizeof(C) == sizeof(wchar_t))
        return Fn<decltype(&::CreateDirectoryW)>(g_kernel.fCreateDirectory)(
            reinterpret_cast<const wchar_t*>(path), security);
    else
        return Fn<decltype(&::CreateDirectoryA)>(g_kernel.fCreateDirectory)(
            reinterpret_cast<const char*>(path), security);
}

template <typename C> Result CreateChain(C* path, SECURITY_ATTRIBUTES* security) {
    const void* shown = path;
    std::size_t length = TextLength(path);
    for (std::size_t i = 0; i < length; ++i)
        if (path[i] == C('/'))
            path[i] = C('\\');
    if (length && path[length - 1] == C('\\'))
        path[--length] = 0;

    // Walk back to the nearest part that exists.
    std::size_t start = 0;
    std::size_t pos = length;
    for (;;) {
        while (pos > 0 && path[pos - 1] != C('\\'))
            --pos;
        if (pos == 0) {
            PluginTrace(g_root, kTraceInfo,
                        "wfsys\tCreateDirectoryRecursively \"%s%S\" root??? isn't exist",
                        NarrowPart(shown), WidePart(shown));
            start = 0;
            break;
        }
        const std::size_t separator = pos - 1;
        Result error = errOK;
        if (PathPresent(path, separator, &error)) {
            start = separator + 1;
            break;
        }
        if (error != errOBJECT_NOT_FOUND) {
            PluginTrace(g_root, kTraceError,
                        "wfsys\tCreateDirectoryRecursively \"%s%S\" fails, %terr",
                        NarrowPart(shown), WidePart(shown), error);
            return error;
        }
        pos = separator;
    }

    Result result = errOK;
    for (std::size_t i = start; i <= length; ++i) {
        if (i < length && path[i] != C('\\'))
            continue;
        if (i == start || path[i - 1] == C('\\')) // an empty part
            continue;
        const C saved = path[i];
        path[i] = 0;
        const bool made = MakeFolder(path, security);
        const DWORD gle = ::GetLastError();
        path[i] = saved;
        if (made)
            continue;
        if (gle == ERROR_ALREADY_EXISTS) {
            result = kFolderExisted;
            continue;
        }
        PluginTrace(g_root, kTraceError,
                    "wfsys\tCreateDirectoryRecursively \"%s%S\" fail with err=0x%x",
                    NarrowPart(shown), WidePart(shown), gle);
        return MapWin32Error(gle);
    }
    PluginTrace(g_root, kTraceProgress, "wfsys\tCreateDirectoryRecursively \"%s%S\" ok",
                NarrowPart(shown), WidePart(shown));
    return result;
}

/// Answer of the product to its environment names in the string's text.
Result ResolveProductEnvName(hOBJ string, const wchar_t* name) {
    Result r = SetStringText(string, name, 0, kCodePageUtf16);
    if (Failed(r))
        return r;
    const Result answer = g_root->sys->sysSendMsg(g_root, kMsgClassProductEnv, kMsgResolveEnvNames,
                                                  string, nullptr, nullptr);
    return answer == kAnswerResolved ? errOK : errNOT_FOUND;
}

/// Creates an IO object under the root on the name object's text.
Result CreateChildIo(hOBJ* out, hOBJ name, bool forWriting, bool replace, bool noPrefix) {
    *out = nullptr;
    ChildObject io;
    Result r = g_root->sys->ObjectCreate(g_root, &io.obj, IID_IO, kPidWfsys, 0);
    if (Failed(r)) {
        io.obj = nullptr;
        return r;
    }
    std::uint32_t openMode = !forWriting ? kOpenReadExisting
                             : replace   ? kOpenWriteReplace
                                         : kOpenWriteNew;
    if (noPrefix)
        openMode |= kOpenNoLongPrefix;
    r = io.obj->sys->PropSetDWord(io.obj, kPropOpenMode, openMode);
    if (Succeeded(r) && forWriting)
        r = io.obj->sys->PropSetDWord(io.obj, kPropAccessMode, kAccessReadWrite);
    if (Succeeded(r)) {
        std::uint32_t count = 0;
        r = reinterpret_cast<StringPropFn>(name->methods[kStringSlotExportToProp - 1])(
            name, &count, io.obj, kPropName);
    }
    if (Succeeded(r))
        r = io.obj->sys->ObjectCreateDone(io.obj);
    if (Failed(r))
        return r;
    *out = io.Release();
    return errOK;
}

using ReadAtFn = decltype(&ReadAt);
using WriteAtFn = decltype(&WriteAt);
using QuerySizeFn = decltype(&QuerySize);
using ResizeFn = decltype(&Resize);
template <typename F> F IoMethod(hOBJ io, std::size_t slot) {
    return reinterpret_cast<F>(io->methods[slot - 1]);
}

Result CopyThroughObjects(hOBJ source, bool sourceIsIo, hOBJ destination, bool destinationIsIo,
                          bool* preparationFailed, std::uint32_t flags) {
    *preparationFailed = false;
    if (!sourceIsIo && !destinationIsIo && g_kernel.fCopyFile) {
        NameText from, to;
        Result r = from.Read(source);
        if (Succeeded(r))
            r = to.Read(destination);
        if (Failed(r)) {
            *preparationFailed = true;
            return r;
        }
        const BOOL copied =
            CopyByName(from.Text(), to.Text(), (flags & kCopyOverwrite) ? FALSE : TRUE);
        if (!copied) {
            *preparationFailed = true;
            return MapWin32Error(::GetLastError());
        }
        return errOK;
    }
    const bool noPrefix = (flags & kCopyNoPrefix) != 0;
    ChildObject openedSource, openedDestination;
    hOBJ in = source, out = destination;
    Result r = errOK;
    if (!sourceIsIo) {
        r = CreateChildIo(&openedSource.obj, source, false, false, noPrefix);
        in = openedSource.obj;
    }
    if (Succeeded(r) && !destinationIsIo) {
        r = CreateChildIo(&openedDestination.obj, destination, true, (flags & kCopyOverwrite) != 0,
                          noPrefix);
        out = openedDestination.obj;
    }
    if (Failed(r)) {
        *preparationFailed = true;
        return r;
    }
    std::uint64_t size = 0;
    r = IoMethod<QuerySizeFn>(in, 3)(in, &size, 0);
    if (Failed(r))
        return r;
    const std::uint64_t tenth = (size + 9) / 10;
    unsigned char stackBuffer[kCopyStackBuffer];
    HostBlock heap{g_root};
    unsigned char* buffer = stackBuffer;
    std::uint32_t bufferSize = kCopyStackBuffer;
    if (tenth > kCopyStackBuffer) {
        bufferSize = static_cast<std::uint32_t>(std::min(tenth, kCopyHeapLimit));
        r = g_root->sys->ObjHeapAlloc(g_root, &heap.block, bufferSize);
        if (Failed(r))
            return r;
        buffer = static_cast<unsigned char*>(heap.block);
    }
    for (std::uint64_t offset = 0; offset < size;) {
        std::uint32_t read = 0;
        r = IoMethod<ReadAtFn>(in, 1)(in, &read, offset, buffer, bufferSize);
        if (Failed(r))
            break;
        if (read == 0) {
            r = errOBJECT_READ; // the file shrank under the copy
            break;
        }
        std::uint32_t written = 0;
        r = IoMethod<WriteAtFn>(out, 2)(out, &written, offset, buffer, read);
        if (Failed(r))
            break;
        if (written < read) {
            r = errOBJECT_WRITE;
            break;
        }
        offset += read;
    }
    if (Succeeded(r))
        r = IoMethod<ResizeFn>(out, 4)(out, size);
    return r;
}

/// Where a name object's text goes when the copy replaces the destination
/// at the next restart.
Result CopyAtRestart(hOBJ source, hOBJ destination, std::uint32_t flags) {
    ChildObject string;
    Result r = NewStringObject(&string.obj, nullptr);
    if (Failed(r))
        return r;
    NameText target;
    r = target.Read(destination);
    if (Failed(r))
        return r;
    if (!(flags & kCopyOverwrite)) {
        const HANDLE h =
            CreateFileByName(target.Text(), 0, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
        if (h != INVALID_HANDLE_VALUE) {
            ::CloseHandle(h);
            return errOBJECT_ALREADY_EXISTS;
        }
    }
    {
        ChildObject probe;
        r = g_root->sys->ObjectCreate(g_root, &probe.obj, IID_IO, kPidWfsys, 0);
        if (Failed(r)) {
            probe.obj = nullptr;
            return r;
        }
        std::uint32_t count = 0;
        r = probe.obj->sys->PropSetStr(probe.obj, &count, kPropFullName, target.Text(), 0,
                                       g_codePage);
        if (Succeeded(r))
            r = reinterpret_cast<StringPropFn>(string.obj->methods[kStringSlotImportFromProp - 1])(
                string.obj, &count, probe.obj, kPropFolder);
        if (Failed(r))
            return r;
    }
    r = MakeTempFileName(string.obj, kTempPrefix, kCodePageSystem);
    if (Failed(r))
        return r;
    r = CopyObjectFile(source, string.obj, kCopyOverwrite);
    if (Succeeded(r))
        r = MoveFileDelayed(string.obj, destination, flags & kCopyMoveFlags);
    if (Failed(r)) {
        // The temporary file would otherwise stay behind for good.
        NameText temporary;
        if (Succeeded(temporary.Read(string.obj)))
            DeleteByName(temporary.Text());
    }
    return r;
}

/// Records a rename for the next start in the Windows initialisation file
/// (narrow mode, where MoveFileEx does not exist).
Result RecordWinInitRename(const char* source, const char* destination) {
    char shortSource[MAX_PATH] = {};
    char shortDestination[MAX_PATH] = "NUL";
    if (!::GetShortPathNameA(source, shortSource, MAX_PATH))
        std::strncpy(shortSource, source, MAX_PATH - 1);
    if (destination && !::GetShortPathNameA(destination, shortDestination, MAX_PATH))
        std::strncpy(shortDestination, destination, MAX_PATH - 1);
    char folder[MAX_PATH] = {};
    if (!::GetWindowsDirectoryA(folder, MAX_PATH))
        return errUNEXPECTED;
    const std::string file = std::string(folder) + kWinInitFile;
    UniqueFile h(::CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                               FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid())
        return errUNEXPECTED;
    char line[kWinInitLineMax] = {};
    const int lineBytes = ::wsprintfA(line, "%s=%s\r\n", shortDestination, shortSource);
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(h.get(), &size) || size.HighPart)
        return errUNEXPECTED;
    std::string text(size.LowPart, '\0');
    DWORD done = 0;
    if (size.LowPart &&
        (!::ReadFile(h.get(), text.data(), size.LowPart, &done, nullptr) || done != size.LowPart))
        return errUNEXPECTED;
    const std::size_t section = text.find(kRenameSection);
    if (section == std::string::npos)
        text += std::string(kRenameSection) + std::string(line, lineBytes);
    else
        text.insert(section + sizeof kRenameSection - 1, line, lineBytes);
    if (::SetFilePointer(h.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        !::WriteFile(h.get(), text.data(), static_cast<DWORD>(text.size()), &done, nullptr) ||
        done != text.size() || !::SetEndOfFile(h.get()))
        return errUNEXPECTED;
    return errOK;
}

} // namespace

Result CreateDirectoryRecursively(void* path, SECURITY_ATTRIBUTES* security) {
    const void* shown = path ? path : static_cast<const void*>(L"");
    PluginTrace(g_root, kTraceDetail, "wfsys\tCreateDirectoryRecursively \"%s%S\"",
                NarrowPart(shown), WidePart(shown));
    const bool empty = !path || (g_wideMode ? *static_cast<const wchar_t*>(path) == L'\0'
                                            : *static_cast<const char*>(path) == '\0');
    if (empty) {
        PluginTrace(g_root, kTraceProgress,
                    "wfsys\tCreateDirectoryRecursively \"%s%S\" failed, parameter invalid",
                    NarrowPart(shown), WidePart(shown));
        return errPARAMETER_INVALID;
    }
    if (AttributesOf(path) != INVALID_FILE_ATTRIBUTES) {
        PluginTrace(g_root, kTraceProgress, "wfsys\tCreateDirectoryRecursively \"%s%S\" exists",
                    NarrowPart(shown), WidePart(shown));
        return kFolderExisted;
    }
    return g_wideMode ? CreateChain(static_cast<wchar_t*>(path), security)
                      : CreateChain(static_cast<char*>(path), security);
}

Result CreateFolderOfObject(hOBJ obj) {
    if (!obj)
        return errPARAMETER_INVALID;
    NameText folder;
    const Result r = folder.Read(obj, kPropFolder);
    if (Failed(r))
        return r;
    return CreateDirectoryRecursively(folder.Text(), nullptr);
}

Result FindTempFolder(hOBJ string, const void* subFolder, std::int32_t codePage) {
    if (!Supports(string, kIidString) || !g_root)
        return errPARAMETER_INVALID;
    Result r = errNOT_FOUND;
    for (const wchar_t* name : kEnvNames) {
        r = ResolveProductEnvName(string, name);
        if (Succeeded(r))
            break;
    }
    if (Failed(r) && g_kernel.fGetTempPath) {
        std::vector<unsigned char> buffer(kNameBufferBytes + sizeof(wchar_t));
        auto ask = [&] {
            const DWORD chars =
                static_cast<DWORD>((buffer.size() - sizeof(wchar_t)) / (g_wideMode ? 2 : 1));
            return g_wideMode ? Fn<decltype(&::GetTempPathW)>(g_kernel.fGetTempPath)(
                                    chars, reinterpret_cast<wchar_t*>(buffer.data()))
                              : Fn<decltype(&::GetTempPathA)>(g_kernel.fGetTempPath)(
                                    chars, reinterpret_cast<char*>(buffer.data()));
        };
        DWORD answer = ask();
        const DWORD capacity =
            static_cast<DWORD>((buffer.size() - sizeof(wchar_t)) / (g_wideMode ? 2 : 1));
        if (answer > capacity) {
            buffer.assign((answer + 1) * (g_wideMode ? 2 : 1) + sizeof(wchar_t), 0);
            answer = ask();
        }
        if (answer)
            r = SetStringText(string, buffer.data(), 0,
                              g_wideMode ? kCodePageUtf16 : kCodePageSystem);
        else
            r = MapWin32Error(::GetLastError());
    }
    if (Failed(r))
        return r;
    if (subFolder) {
        reinterpret_cast<StringAddSeparatorFn>(string->methods[kStringSlotAddSeparator - 1])(
            string);
        std::uint32_t count = 0;
        r = reinterpret_cast<StringSetTextFn>(string->methods[kStringSlotAddText - 1])(
            string, &count, subFolder, 0, codePage, kStringFlagWhole);
        if (Failed(r))
            return r;
    }
    return CreateFolderOfObject(string);
}

Result MakeTempFileName(hOBJ string, const void* prefix, std::int32_t codePage) {
    if (!string)
        return errPARAMETER_INVALID;
    if (!g_kernel.fGetTempFileName)
        return errUNEXPECTED;
    NameText folder;
    Result r = folder.Read(string);
    if (folder.InterfaceId() != kIidString)
        return errPARAMETER_INVALID;
    if (Failed(r) || folder.Empty()) {
        r = FindTempFolder(string, nullptr, 0);
        if (Failed(r))
            return r;
        r = folder.Read(string);
        if (Failed(r))
            return r;
    }
    wchar_t widePrefix[kPrefixWideChars + 1] = {};
    char narrowPrefix[kPrefixNarrowBytes + 1] = {};
    const void* usedPrefix = prefix ? prefix : static_cast<const void*>(L"");
    if (g_wideMode && prefix && codePage != kCodePageUtf16) {
        ::MultiByteToWideChar(CP_ACP, 0, static_cast<const char*>(prefix), -1, widePrefix,
                              kPrefixWideChars);
        usedPrefix = widePrefix;
    } else if (!g_wideMode && prefix && codePage != kCodePageSystem) {
        ::WideCharToMultiByte(CP_ACP, 0, static_cast<const wchar_t*>(prefix), -1, narrowPrefix,
                              kPrefixNarrowBytes, nullptr, nullptr);
        usedPrefix = narrowPrefix;
    } else if (!prefix && !g_wideMode) {
        usedPrefix = "";
    }
    alignas(wchar_t) unsigned char output[MAX_PATH * sizeof(wchar_t)] = {};
    const UINT made = g_wideMode ? Fn<decltype(&::GetTempFileNameW)>(g_kernel.fGetTempFileName)(
                                       folder.Wide(), static_cast<const wchar_t*>(usedPrefix), 0,
                                       reinterpret_cast<wchar_t*>(output))
                                 : Fn<decltype(&::GetTempFileNameA)>(g_kernel.fGetTempFileName)(
                                       folder.Narrow(), static_cast<const char*>(usedPrefix), 0,
                                       reinterpret_cast<char*>(output));
    if (!made)
        return MapWin32Error(::GetLastError());
    return SetStringText(string, output, 0, g_codePage);
}

Result CopyObjectFile(hOBJ source, hOBJ destination, std::uint32_t flags) {
    auto classify = [](hOBJ obj, bool* isIo) {
        *isIo = Supports(obj, IID_IO);
        return *isIo || Supports(obj, kIidString);
    };
    bool sourceIsIo = false, destinationIsIo = false;
    if (!classify(source, &sourceIsIo) || !classify(destination, &destinationIsIo))
        return errPARAMETER_INVALID;
    if (flags & kCopyAtRestart) {
        if (destinationIsIo)
            return errPARAMETER_INVALID;
        return CopyAtRestart(source, destination, flags);
    }
    bool preparationFailed = false;
    Result r = CopyThroughObjects(source, sourceIsIo, destination, destinationIsIo,
                                  &preparationFailed, flags);
    if (Failed(r) && (flags & kCopyRetryWithToken) && preparationFailed) {
        ChildObject token;
        if (Succeeded(g_root->sys->ObjectCreateQuick(g_root, &token.obj, kIidToken, 0, 0)) &&
            token.obj) {
            reinterpret_cast<TokenAssumeFn>(token.obj->methods[kTokenSlotAssume - 1])(token.obj);
            r = CopyThroughObjects(source, sourceIsIo, destination, destinationIsIo,
                                   &preparationFailed, flags);
            reinterpret_cast<TokenIdentityFn>(token.obj->methods[kTokenSlotIdentity - 1])(token.obj,
                                                                                          0);
        } else {
            token.obj = nullptr;
        }
    }
    return r;
}

Result MoveFileDelayed(hOBJ source, hOBJ destination, std::uint32_t flags) {
    if (!source)
        return errPARAMETER_INVALID;
    NameText from, to;
    Result r = from.Read(source);
    if (Failed(r))
        return r;
    if (destination) {
        r = to.Read(destination);
        if (Failed(r))
            return r;
    }
    if (!g_wideMode || !g_kernel.fMoveFileEx)
        return RecordWinInitRename(from.Narrow(), destination ? to.Narrow() : nullptr);

    const wchar_t* sourceName = from.Wide();
    if ((flags & MOVEFILE_DELAY_UNTIL_REBOOT) && g_platformQuery &&
        g_platformQuery() == kPlatformWindowsNt &&
        std::wcsncmp(sourceName, kLongPrefix, kLongPrefixChars) == 0)
        sourceName += kLongPrefixChars;
    const wchar_t* destinationName = destination ? to.Wide() : nullptr;
    auto move = [&] {
        return Fn<decltype(&::MoveFileExW)>(g_kernel.fMoveFileEx)(sourceName, destinationName,
                                                                  flags);
    };
    if (move())
        return errOK;
    const DWORD gle = ::GetLastError();
    if (gle != ERROR_ACCESS_DENIED)
        return MapWin32Error(gle);
    CThreadTokenSuspension suspended;
    if (!suspended.HadToken())
        return MapWin32Error(ERROR_ACCESS_DENIED);
    return move() ? errOK : MapWin32Error(::GetLastError());
}

Result RunProgram(hOBJ program, hOBJ arguments, hOBJ folder, std::uint32_t* exitCode,
                  std::uint32_t flags) {
    if (exitCode)
        *exitCode = 0xFFFFFFFF;
    if (!program || !arguments)
        return errPARAMETER_INVALID;
    NameText exe, args, workDir;
    Result r = exe.Read(program);
    if (Succeeded(r))
        r = args.Read(arguments);
    if (Succeeded(r) && folder)
        r = workDir.Read(folder);
    if (Failed(r))
        return r;
    const DWORD creation = (flags & kRunNoWindow) ? CREATE_NO_WINDOW : 0;
    PROCESS_INFORMATION pi{};
    BOOL started = FALSE;
    if (g_wideMode) {
        std::wstring command = L"\"" + std::wstring(exe.Wide()) + L"\" " + args.Wide();
        STARTUPINFOW si{};
        si.cb = sizeof si;
        started = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, creation,
                                   nullptr, folder ? workDir.Wide() : nullptr, &si, &pi);
    } else {
        std::string command = "\"" + std::string(exe.Narrow()) + "\" " + args.Narrow();
        STARTUPINFOA si{};
        si.cb = sizeof si;
        started = ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, creation,
                                   nullptr, folder ? workDir.Narrow() : nullptr, &si, &pi);
    }
    if (!started)
        return MapWin32Error(::GetLastError());
    UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
    if (flags & kRunWait) {
        if (::WaitForSingleObject(pi.hProcess, INFINITE) != WAIT_OBJECT_0)
            return MapWin32Error(::GetLastError());
        DWORD code = 0;
        if (exitCode && ::GetExitCodeProcess(pi.hProcess, &code))
            *exitCode = code;
    }
    return errOK;
}

Result GetFreeSpace(hOBJ obj, std::uint64_t* bytes) {
    if (!obj)
        return errPARAMETER_INVALID;
    NameText name;
    const Result r = name.Read(obj);
    if (Failed(r))
        return r;
    ULARGE_INTEGER available{};
    BOOL ok = FALSE;
    if (g_wideMode) {
        wchar_t drive[_MAX_DRIVE] = {};
        _wsplitpath_s(name.Wide(), drive, _MAX_DRIVE, nullptr, 0, nullptr, 0, nullptr, 0);
        const std::wstring root = std::wstring(drive) + L"\\";
        ok = ::GetDiskFreeSpaceExW(root.c_str(), &available, nullptr, nullptr);
    } else {
        char drive[_MAX_DRIVE] = {};
        _splitpath_s(name.Narrow(), drive, _MAX_DRIVE, nullptr, 0, nullptr, 0, nullptr, 0);
        const std::string root = std::string(drive) + "\\";
        ok = ::GetDiskFreeSpaceExA(root.c_str(), &available, nullptr, nullptr);
    }
    if (!ok)
        return errOBJECT_BAD_STATE;
    if (bytes)
        *bytes = available.QuadPart;
    return errOK;
}

} // namespace zev::wfsys
