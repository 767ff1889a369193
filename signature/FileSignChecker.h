// Checks files against the key registries "al.pbv" and "oper.pbv" of a
// key folder with the signature library.
//
// The installer's entry point (IsFileSigned) is:
//
//     hotfixer::FileSignChecker checker(productFolder); // ends with '\'
//     const bool signedOk = checker.CheckFileSign(fullPathOfFile);
//
// The constructor throws ulm::RuntimeError when the library cannot be
// initialised; CheckFileSign never throws and answers true exactly when
// the file is accepted. Every step is traced through TraceLine.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "signature/ZsigLibrary.h"

namespace hotfixer {

class FileSignChecker {
public:
    /// `keyFolder` is used as a prefix of the key file names, so it must end
    /// with a separator. Throws ulm::RuntimeError("FileSignChecker", 17).
    explicit FileSignChecker(std::wstring keyFolder);
    ~FileSignChecker();
    FileSignChecker(const FileSignChecker&) = delete;
    FileSignChecker& operator=(const FileSignChecker&) = delete;

    /// 0 when every file is accepted. A registry file that cannot be read
    /// gives LoadFile's code (0x80010102 when it is missing), one that the
    /// library does not take 0x80000040; every other failure 0x8000005A
    /// (the trace says why, with one "ConsistencyCheckFailed" line per
    /// refused file).
    int32_t CheckFilesSign(const std::vector<std::wstring>& files);
    /// The single-file check: true exactly when CheckFilesSign({file}) is 0.
    bool CheckFileSign(const std::wstring& file);

    /// A file read into memory.
    struct FileImage {
        std::wstring path;
        std::vector<uint8_t> content;
    };
    /// Reads the whole file (retrying without WOW64 redirection when it is
    /// not found); 0 or a negative result code.
    static int32_t LoadFile(FileImage& image);
    /// The result code of a Windows error (FileSignCodes.h).
    static int32_t WinErrorToCode(DWORD error);
    /// The name an object image carries: the part of the path after its last
    /// "\\" or "/", lower-cased.
    static std::wstring ObjectName(const std::wstring& path);

private:
    int32_t AddImage(zsig::ParList* list, const std::wstring& path, bool object);
    int32_t PrepareRegistryList(zsig::ParList* list);
    static void HandleZSIGError(zsig::ParList* list);
    static void ReleaseList(zsig::ParList* list);

    zsig::Context* m_context = nullptr;
    std::wstring m_keyFolder;
};

} // namespace hotfixer
