#include "installer/SystemUtils.h"

#include <cstdlib>
#include <sstream>

#include "common/UniqueHandle.h"
#include "installer/diagnostics/TraceFile.h"

namespace hotfixer {

namespace {

constexpr DWORD kFormatFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS | 0xFF;
constexpr DWORD kUserDefaultLanguage = 0x400;
constexpr DWORD kNameChars = 260;
constexpr DWORD kMaxValueNameChars = 16384;

} // namespace

std::wstring ErrorText(DWORD code, const std::wstring& operation) {
    wchar_t* message = nullptr;
    const DWORD n = ::FormatMessageW(kFormatFlags, nullptr, code, kUserDefaultLanguage,
                                     reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    zev::UniqueLocal owner(message);
    return operation + L": " + (n && message ? std::wstring(message) : L"Unknown error.");
}

std::string ErrorText(DWORD code, const std::string& operation) {
    char* message = nullptr;
    const DWORD n = ::FormatMessageA(kFormatFlags, nullptr, code, kUserDefaultLanguage,
                                     reinterpret_cast<char*>(&message), 0, nullptr);
    zev::UniqueLocal owner(message);
    return operation + ": " + (n && message ? std::string(message) : "Unknown error.");
}

LSTATUS RegQueryStringValue(HKEY key, const wchar_t* valueName, std::vector<wchar_t>& buffer) {
    // One character more than the size claimed, so that a stored value
    // without its own NUL still ends in one.
    DWORD bytes = kNameChars * sizeof(wchar_t);
    buffer.assign(bytes / sizeof(wchar_t) + 1, L'\0');
    LSTATUS rc = ::RegQueryValueExW(key, valueName, nullptr, nullptr,
                                    reinterpret_cast<BYTE*>(buffer.data()), &bytes);
    while (rc == ERROR_MORE_DATA) {
        buffer.assign(bytes / sizeof(wchar_t) + 2, L'\0');
        bytes = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
        rc = ::RegQueryValueExW(key, valueName, nullptr, nullptr,
                                reinterpret_cast<BYTE*>(buffer.data()), &bytes);
    }
    buffer.back() = L'\0';
    return rc;
}

LSTATUS RegReadStringValue(const wchar_t* valueName, const wchar_t* subkey, HKEY root,
                           std::vector<wchar_t>& buffer) {
    zev::UniqueHKey key;
    const LSTATUS rc = ::RegOpenKeyExW(root, subkey, 0, KEY_QUERY_VALUE, key.put());
    if (rc != ERROR_SUCCESS)
        return rc;
    return RegQueryStringValue(key.get(), valueName, buffer);
}

LSTATUS SubstituteRegVariables(HKEY root, const wchar_t* subkey, std::wstring& text) {
    static const wchar_t kOp[] = L"SubstituteRegVariables";
    if (!root || !subkey)
        return ERROR_INVALID_PARAMETER;
    for (int pass = 0;; ++pass) {
        const size_t open = text.find(L'%');
        if (open == std::wstring::npos)
            return ERROR_SUCCESS;
        if (open + 1 >= text.size())
            throw std::out_of_range("invalid string position");
        size_t close = text.find(L'%', open + 1);
        if (close == std::wstring::npos)
            close = text.size() - 1;
        // A self-referring value never runs out of references: stop it.
        if (pass >= kMaxRegSubstitutions || text.size() > kMaxSubstitutedChars) {
            TraceLine(kTraceError, L"%s: References do not resolve: %s", kOp, text.c_str());
            return ERROR_CIRCULAR_DEPENDENCY;
        }
        const std::wstring name = text.substr(open + 1, close - open - 1);
        TraceLine(kTraceNotify, L"%s: Current variable name: %s", kOp, name.c_str());
        std::vector<wchar_t> value;
        const LSTATUS rc = RegReadStringValue(name.c_str(), subkey, root, value);
        if (rc != ERROR_SUCCESS)
            return rc;
        text.replace(open, close - open + 1, value.data());
        TraceLine(kTraceNotify, L"%s: New value: %s", kOp, text.c_str());
    }
}

LSTATUS RegCopyKeyW(HKEY source, const wchar_t* sourceSubkey, HKEY destination) {
    static const wchar_t kOp[] = L"RegCopyKeyW";
    zev::UniqueHKey opened;
    HKEY from = source;
    if (sourceSubkey) {
        const LSTATUS rc = ::RegOpenKeyExW(source, sourceSubkey, 0,
                                           KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, opened.put());
        if (rc != ERROR_SUCCESS)
            return rc;
        from = opened.get();
    } else if (!source) {
        return ERROR_INVALID_PARAMETER;
    }

    LSTATUS rc = ERROR_SUCCESS;
    for (DWORD index = 0; rc == ERROR_SUCCESS; ++index) {
        wchar_t name[kNameChars] = {};
        wchar_t cls[kNameChars] = {};
        DWORD nameLen = kNameChars, clsLen = kNameChars;
        rc = ::RegEnumKeyExW(from, index, name, &nameLen, nullptr, cls, &clsLen, nullptr);
        if (rc != ERROR_SUCCESS)
            break;
        zev::UniqueHKey created;
        rc = ::RegCreateKeyExW(destination, name, 0, cls, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                               nullptr, created.put(), nullptr);
        if (rc == ERROR_SUCCESS)
            rc = RegCopyKeyW(from, name, created.get());
    }
    if (rc != ERROR_NO_MORE_ITEMS)
        return rc;

    DWORD maxData = 0;
    rc = ::RegQueryInfoKeyW(from, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, &maxData, nullptr, nullptr);
    if (rc != ERROR_SUCCESS)
        return rc;
    std::vector<BYTE> data(maxData + 1, 0);
    // Value names may be longer than key names; a name buffer of the
    // registry's limit keeps ERROR_MORE_DATA about the data alone.
    std::vector<wchar_t> name(kMaxValueNameChars, L'\0');
    for (DWORD index = 0; rc == ERROR_SUCCESS;) {
        DWORD nameLen = kMaxValueNameChars;
        DWORD dataLen = static_cast<DWORD>(data.size());
        DWORD type = 0;
        rc = ::RegEnumValueW(from, index, name.data(), &nameLen, nullptr, &type, data.data(),
                             &dataLen);
        if (rc == ERROR_MORE_DATA) {
            TraceLine(kTraceNotify, L"%s: New buff size = %d", kOp, static_cast<int>(dataLen));
            const DWORD grown = dataLen ? dataLen : kNameChars;
            if (grown <= data.size())
                return ERROR_MORE_DATA; // the registry asks for no more room: give up
            data.assign(grown, 0);
            rc = ERROR_SUCCESS;
            continue;
        }
        if (rc != ERROR_SUCCESS)
            break;
        rc = ::RegSetValueExW(destination, name.data(), 0, type, data.data(), dataLen);
        ++index;
    }
    return rc == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : rc;
}

int GetWindowsDir(std::wstring& out) {
    out.clear();
    size_t required = 0;
    // Only the length matters here: Wine's runtime answers the length
    // query with ERANGE and a missing variable with EINVAL, where Windows'
    // answers 0 to both.
    _wgetenv_s(&required, nullptr, 0, L"windir");
    if (required == 0)
        return 0;

    std::wstring value(required, L'\0');
    const errno_t err = _wgetenv_s(&required, value.data(), value.size(), L"windir");
    if (err == 0)
        out.assign(value.c_str());
    return err;
}

int HexToInt(const wchar_t* text) {
    if (!text)
        return 0;
    std::wistringstream stream(text);
    unsigned int value = 0;
    stream >> std::hex >> value;
    return stream.fail() ? 0 : static_cast<int>(value);
}

std::wstring IntToHex(int value) {
    std::wostringstream stream;
    stream << std::hex << value;
    return stream.str();
}

} // namespace hotfixer
