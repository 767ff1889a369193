#include "signature/FileSignChecker.h"

#include <cstdlib>
#include <cstring>

#include "common/UniqueHandle.h"
#include "common/Wow64Redirector.h"
#include "installer/diagnostics/TraceFile.h"
#include "signature/FileSignCodes.h"
#include "signature/NodeIds.h"
#include "signature/UlmException.h"

namespace hotfixer {
namespace {

constexpr DWORD kReadChunk = 10240;
constexpr wchar_t kCheckName[] = L"FileSignChecker::CheckFilesSign";
constexpr wchar_t kHandleName[] = L"FileSignChecker::HandleZSIGError";
constexpr wchar_t kRegistryFiles[][9] = {L"al.pbv", L"oper.pbv"};

HANDLE OpenForRead(const std::wstring& path) {
    return ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

} // namespace

std::wstring FileSignChecker::ObjectName(const std::wstring& path) {
    const size_t cut = path.find_last_of(L"\\/");
    std::wstring name = cut == std::wstring::npos ? path : path.substr(cut + 1);
    if (!name.empty())
        ::CharLowerBuffW(name.data(), DWORD(name.size()));
    for (wchar_t& c : name) {
        if (c == L'/')
            c = L'\\';
    }
    return name;
}

int32_t FileSignChecker::WinErrorToCode(DWORD error) {
    for (const WinErrorCode& e : kWinErrorCodes) {
        if (e.error == error)
            return e.code;
    }
    return kSignUnknownError;
}

FileSignChecker::FileSignChecker(std::wstring keyFolder) : m_keyFolder(std::move(keyFolder)) {
    m_context = zsig::ZSIG_Init(std::malloc, std::free, 0, 1);
    if (!m_context)
        throw ulm::RuntimeError("FileSignChecker", 17);
}

FileSignChecker::~FileSignChecker() {
    zsig::ZSIG_Shutdown(m_context, true);
}

int32_t FileSignChecker::LoadFile(FileImage& image) {
    zev::UniqueHandle<zev::FileTraits> file(OpenForRead(image.path));
    int32_t code = file ? 0 : WinErrorToCode(::GetLastError());
    if (code == kSignFileNotFound) {
        zev::Wow64Redirector redirector;
        void* previous = nullptr;
        const bool disabled = redirector.Disable(&previous);
        file.reset(OpenForRead(image.path));
        code = file ? 0 : WinErrorToCode(::GetLastError());
        if (disabled)
            redirector.Revert(previous);
    }
    if (code < 0) {
        TraceLine(kTraceNotify, L"%s: LoadFile name - <%s> result <%d>", L"LoadFile",
                  image.path.c_str(), code);
        return code;
    }
    image.content.clear();
    std::vector<uint8_t> chunk(kReadChunk);
    DWORD offset = 0;
    for (;;) {
        if (::SetFilePointer(file.get(), LONG(offset), nullptr, FILE_BEGIN) ==
                INVALID_SET_FILE_POINTER &&
            ::GetLastError() != NO_ERROR)
            return WinErrorToCode(::GetLastError());
        DWORD read = 0;
        if (!::ReadFile(file.get(), chunk.data(), kReadChunk, &read, nullptr))
            return WinErrorToCode(::GetLastError());
        if (read == 0)
            break;
        image.content.insert(image.content.end(), chunk.begin(), chunk.begin() + read);
        offset += read;
    }
    TraceLine(kTraceNotify, L"%s: LoadFile name - <%s> result <%d>", L"LoadFile",
              image.path.c_str(), 0);
    return 0;
}

// Loads the file, hands a copy of its content (a block of exactly its size
// that the list owns from then on) to the library and sets the item's
// parameters: 17 the block's address, for objects the lower-cased name,
// 18 the full path.
int32_t FileSignChecker::AddImage(zsig::ParList* list, const std::wstring& path, bool object) {
    const wchar_t* operation = object ? L"AddObjectImage" : L"AddRegistryImage";
    const wchar_t* kindText = object ? L"object" : L"registry";
    FileImage image{path, {}};
    const int32_t loaded = LoadFile(image);
    if (loaded != 0)
        return loaded;
    const uint32_t size = uint32_t(image.content.size());
    void* block = std::malloc(size != 0 ? size : 1);
    if (!block) {
        TraceLine(kTraceError, L"%s: Can't add %s image with name - <%s>, result <%d>", operation,
                  kindText, path.c_str(), int32_t(zsig::kNoMemory));
        return kSignAddImageFailed;
    }
    if (size != 0)
        std::memcpy(block, image.content.data(), size);
    const zsig::ItemHandle item =
        object ? zsig::ZSIG_ParList_AddObjectImage(list, block, size, nullptr, nullptr)
               : zsig::ZSIG_ParList_AddRegistryImage(list, block, size, nullptr, nullptr);
    zsig::Result code = item ? zsig::kOk : zsig::kNotInitialised;
    bool blockOwnedByList = false;
    if (code == zsig::kOk) {
        code =
            zsig::ZSIG_ParList_SetParam(list, item, zsig::kParamContentBlock, &block, sizeof block);
        blockOwnedByList = code == zsig::kOk;
    }
    if (code == zsig::kOk && object) {
        const std::wstring name = ObjectName(path);
        code = zsig::ZSIG_ParList_SetName(list, item, name.c_str(),
                                          uint32_t((name.size() + 1) * sizeof(wchar_t)));
    }
    if (code == zsig::kOk)
        code = zsig::ZSIG_ParList_SetParam(list, item, zsig::kParamFullPath, path.c_str(),
                                           uint32_t((path.size() + 1) * sizeof(wchar_t)));
    if (code == zsig::kOk) {
        TraceLine(kTraceNotify, L"%s: Successfully added %s image with name - <%s>, result <%d>",
                  operation, kindText, path.c_str(), int32_t(code));
        return 0;
    }
    // The list must not free the block a second time on release.
    if (blockOwnedByList)
        zsig::ZSIG_ParList_SetParam(list, item, zsig::kParamContentBlock, nullptr, 0);
    std::free(block);
    TraceLine(kTraceError, L"%s: Can't add %s image with name - <%s>, result <%d>", operation,
              kindText, path.c_str(), int32_t(code));
    return kSignAddImageFailed;
}

int32_t FileSignChecker::PrepareRegistryList(zsig::ParList* list) {
    for (const wchar_t* name : kRegistryFiles) {
        const int32_t r = AddImage(list, m_keyFolder + name, false);
        if (r != 0)
            return r;
    }
    return 0;
}

void FileSignChecker::ReleaseList(zsig::ParList* list) {
    if (!list)
        return;
    for (zsig::ItemHandle h = zsig::ZSIG_ParList_First(list); h != 0;
         h = zsig::ZSIG_ParList_Next(list, h)) {
        void* block = nullptr;
        uint32_t size = sizeof block;
        if (zsig::ZSIG_ParList_GetParam(list, h, zsig::kParamContentBlock, &block, &size) ==
                zsig::kOk &&
            size == sizeof block)
            std::free(block);
    }
    zsig::ZSIG_ParList_Release(list);
}

void FileSignChecker::HandleZSIGError(zsig::ParList* list) {
    zsig::Result status = 0;
    for (zsig::ItemHandle h = zsig::ZSIG_ParList_FirstFailed(list, &status); h != 0;
         h = zsig::ZSIG_ParList_NextFailed(list, h, &status)) {
        if (zsig::ZSIG_ParList_GetObject(list, h, nullptr, nullptr) != zsig::kOk) {
            TraceLine(kTraceNotify, L"%s: ZSIG_ParList_GetObject failed", kHandleName);
            return;
        }
        uint32_t size = 0;
        std::vector<wchar_t> name;
        bool ok = zsig::ZSIG_ParList_GetParam(list, h, zsig::kParamFullPath, nullptr, &size) ==
                      zsig::kOk &&
                  size >= sizeof(wchar_t);
        if (ok) {
            name.resize(size / sizeof(wchar_t) + 1, L'\0');
            ok = zsig::ZSIG_ParList_GetParam(list, h, zsig::kParamFullPath, name.data(), &size) ==
                 zsig::kOk;
        }
        if (!ok) {
            TraceLine(kTraceNotify, L"%s: GetObjectFileName failed - result <%d>", kHandleName,
                      kSignAddImageFailed);
            return;
        }
        TraceLine(kTraceNotify, L"%s: ConsistencyCheckFailed - module name = <%s>", kHandleName,
                  name.data());
    }
}

int32_t FileSignChecker::CheckFilesSign(const std::vector<std::wstring>& files) {
    TraceLine(kTraceNotify, L"%s: Start", kCheckName);
    zsig::ParList* registries = nullptr;
    if (zsig::ZSIG_ParList_Create(&registries) != zsig::kOk)
        return kSignCheckFailed;
    if (const int32_t r = PrepareRegistryList(registries); r != 0) {
        ReleaseList(registries);
        return r;
    }
    zsig::Result code = zsig::ZSIG_PrepareRegsSet(m_context, registries, 0);
    if (code != zsig::kOk) {
        TraceLine(kTraceError, L"%s: Can't prepare regs set, result - <%d>", kCheckName,
                  int32_t(code));
        if (code == zsig::kConsistencyCheckFailed)
            HandleZSIGError(registries);
        ReleaseList(registries);
        return kSignCheckFailed;
    }
    TraceLine(kTraceNotify, L"%s: Successfully prepared regs set, result - <%d>", kCheckName,
              int32_t(code));

    zsig::ParList* objects = nullptr;
    if (zsig::ZSIG_ParList_Create(&objects) != zsig::kOk) {
        ReleaseList(registries);
        return kSignCheckFailed;
    }
    int32_t added = 0;
    for (const std::wstring& file : files) {
        added = AddImage(objects, file, true);
        if (added != 0) {
            TraceLine(kTraceError, L"%s: Can't add object image, result <%d>", kCheckName, added);
            ReleaseList(objects);
            ReleaseList(registries);
            return kSignCheckFailed;
        }
    }
    TraceLine(kTraceNotify, L"%s: Successfully added all object image, result <%d>", kCheckName,
              added);

    code = zsig::ZSIG_CheckObjects(m_context, objects, 0);
    int32_t result = kSignOk;
    if (code == zsig::kOk) {
        TraceLine(kTraceNotify, L"%s: Check files sign is ok, result <%d>", kCheckName,
                  int32_t(code));
    } else {
        TraceLine(kTraceError, L"%s: Error check files sign - result <%d>", kCheckName,
                  int32_t(code));
        if (code == zsig::kConsistencyCheckFailed)
            HandleZSIGError(objects);
        result = kSignCheckFailed;
    }
    ReleaseList(objects);
    ReleaseList(registries);
    return result;
}

bool FileSignChecker::CheckFileSign(const std::wstring& file) {
    return CheckFilesSign({file}) == kSignOk;
}

} // namespace hotfixer
