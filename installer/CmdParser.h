// The installer's command line as a set of options.
#pragma once

#include <map>
#include <string>

namespace hotfixer {

/// Options by lower-cased name ("/when"), each with the value that followed
/// it as written, ordered by ordinal comparison of the names.
using OptionMap = std::map<std::wstring, std::wstring>;

class CCMDParser {
public:
    /// Splits `commandLine` (without the program's name) into options. Never
    /// fails: a text that cannot be split gives no options.
    explicit CCMDParser(const wchar_t* commandLine);

    /// True when `name`, lower-cased, is among the options.
    bool HasOption(const wchar_t* name) const;
    /// The value stored under `name` exactly as given (callers pass
    /// lower-case names); empty when absent or given without a value.
    std::wstring GetOptionValue(const wchar_t* name) const;
    /// Every option in order.
    const OptionMap& Options() const { return m_options; }

    /// Lower-cases the letters A to Z only, as the classic locale does.
    static std::wstring ToLowerClassic(const std::wstring& text);

private:
    OptionMap m_options;
};

} // namespace hotfixer
