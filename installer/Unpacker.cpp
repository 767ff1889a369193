#include "installer/Unpacker.h"

#include <windows.h>

#include "common/UniqueHandle.h"
#include "installer/SystemUtils.h"
#include "installer/resources/PackageResource.h"

namespace hotfixer {

namespace {
constexpr char kOperation[] = "CUnpacker::ExtractResourceToFile";
}

void CUnpacker::ExtractResourceToFile(const std::wstring& destination) {
    const HRSRC resource =
        ::FindResourceW(nullptr, MAKEINTRESOURCEW(kPackageResourceId), kPackageResourceType);
    if (!resource)
        throw SystemError(::GetLastError(), kOperation);
    const HGLOBAL loaded = ::LoadResource(nullptr, resource);
    if (!loaded)
        throw SystemError(::GetLastError(), kOperation);
    const void* data = ::LockResource(loaded);
    const DWORD size = ::SizeofResource(nullptr, resource);

    zev::UniqueFile file(::CreateFileW(destination.c_str(), GENERIC_WRITE, 0, nullptr,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        throw SystemError(::GetLastError(), kOperation);
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file.get(), data, size, &written, nullptr);
    const DWORD error = ::GetLastError();
    file.reset();
    if (!ok)
        throw SystemError(error, kOperation);
}

} // namespace hotfixer
