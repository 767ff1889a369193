// Code-page conversions of the framework's texts.
#include "host/Host.h"

#include "plugin/frame/Identifiers.h"

#include <cwchar>
#include <cstring>

namespace zev::host {

using namespace zev::frame;

namespace {

UINT WindowsCodePage(std::int32_t codePage) {
    return codePage == kCodePageSystem ? CP_ACP : static_cast<UINT>(codePage);
}

} // namespace

std::size_t TerminatorSize(std::int32_t codePage) {
    return codePage == kCodePageUtf16 ? sizeof(wchar_t) : 1;
}

std::size_t MeasureText(const void* text, std::int32_t codePage) {
    if (!text)
        return 0;
    if (codePage == kCodePageUtf16)
        return std::wcslen(static_cast<const wchar_t*>(text)) * sizeof(wchar_t);
    return std::strlen(static_cast<const char*>(text));
}

bool DecodeText(const void* text, std::size_t size, std::int32_t codePage, std::wstring& out) {
    out.clear();
    if (size == 0)
        return true;
    if (!text)
        return false;
    if (codePage == kCodePageUtf16) {
        if (size % sizeof(wchar_t))
            return false;
        out.assign(static_cast<const wchar_t*>(text), size / sizeof(wchar_t));
        return true;
    }
    const auto* bytes = static_cast<const char*>(text);
    const int n = ::MultiByteToWideChar(WindowsCodePage(codePage), 0, bytes, static_cast<int>(size),
                                        nullptr, 0);
    if (n <= 0)
        return false;
    out.resize(static_cast<std::size_t>(n));
    ::MultiByteToWideChar(WindowsCodePage(codePage), 0, bytes, static_cast<int>(size), out.data(),
                          n);
    return true;
}

bool EncodeText(const std::wstring& text, std::int32_t codePage, std::string& out) {
    out.clear();
    if (text.empty())
        return true;
    if (codePage == kCodePageUtf16) {
        out.assign(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
        return true;
    }
    const int n =
        ::WideCharToMultiByte(WindowsCodePage(codePage), 0, text.data(),
                              static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return false;
    out.resize(static_cast<std::size_t>(n));
    ::WideCharToMultiByte(WindowsCodePage(codePage), 0, text.data(), static_cast<int>(text.size()),
                          out.data(), n, nullptr, nullptr);
    return true;
}

} // namespace zev::host
