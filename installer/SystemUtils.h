// Registry and system utilities shared by the installer's classes, and the
// installer's common failure exception.
//
// Utilities report Windows error codes and never raise, except where a
// function says so; SystemError is what class boundaries raise.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace hotfixer {

/// "operation: <system message>" for a Windows error code; "Unknown error."
/// stands for a code without a system message. Never fails.
std::wstring ErrorText(DWORD code, const std::wstring& operation);
/// The narrow form (ANSI code page), used for exception texts.
std::string ErrorText(DWORD code, const std::string& operation);

/// The installer's failure exception: a std::logic_error whose text is
/// ErrorText(code, operation).
class SystemError : public std::logic_error {
public:
    SystemError(DWORD code, const std::string& operation)
        : std::logic_error(ErrorText(code, operation)), m_code(code) {}
    DWORD code() const noexcept { return m_code; }

private:
    DWORD m_code;
};

/// Throws SystemError(code, operation) unless code is ERROR_SUCCESS.
inline void ThrowIfFailed(DWORD code, const std::string& operation) {
    if (code != ERROR_SUCCESS)
        throw SystemError(code, operation);
}

/// Reads a value of an open key as text into `buffer`, growing it while the
/// registry answers ERROR_MORE_DATA. The value's type is not checked. On
/// success the text is `buffer.data()` (always NUL-terminated). Returns the
/// registry's answer.
LSTATUS RegQueryStringValue(HKEY key, const wchar_t* valueName, std::vector<wchar_t>& buffer);

/// Opens `subkey` of `root` for query and reads the value as text.
LSTATUS RegReadStringValue(const wchar_t* valueName, const wchar_t* subkey, HKEY root,
                           std::vector<wchar_t>& buffer);

/// Upper bound of the substitutions in one call of SubstituteRegVariables.
inline constexpr int kMaxRegSubstitutions = 64;
/// Upper bound of the length of a substituted text, in characters.
inline constexpr size_t kMaxSubstitutedChars = 32767;

/// Replaces each %NAME% in `text` by the string value NAME under `subkey`
/// of `root`, first reference first, until none is left. Returns 0, 87 for
/// a null root or subkey, the registry's code when a value cannot be read
/// (the text keeps that reference), or ERROR_CIRCULAR_DEPENDENCY when the
/// references do not resolve within kMaxRegSubstitutions passes or the text
/// grows past kMaxSubstitutedChars. A text ending in a lone "%" raises
/// std::out_of_range("invalid string position").
LSTATUS SubstituteRegVariables(HKEY root, const wchar_t* subkey, std::wstring& text);

/// Copies the values and subkeys (with their classes) of `sourceSubkey`
/// under `source` (or of `source` itself when the subkey is null) into
/// `destination`. Security descriptors are not copied; existing content of
/// the destination stays. Returns a Windows error code.
LSTATUS RegCopyKeyW(HKEY source, const wchar_t* sourceSubkey, HKEY destination);

/// The environment variable "windir" (empty when missing). Returns the
/// runtime's error number, 0 on success.
int GetWindowsDir(std::wstring& out);

/// A hexadecimal number read from text; 0 for null text or no digits.
int HexToInt(const wchar_t* text);
/// Lower-case hexadecimal text without prefix.
std::wstring IntToHex(int value);

} // namespace hotfixer
