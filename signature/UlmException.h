// The base library's exception types, reduced to what the file signature
// checker raises: a standard exception with its source name and line.
#pragma once

#include <exception>
#include <string>

namespace ulm {

class Exception : public std::exception {
public:
    Exception(const char* file, int line, std::wstring message = {})
        : m_file(file), m_line(line), m_message(std::move(message)) {}

    const char* what() const noexcept override { return "Exception"; }
    const char* File() const noexcept { return m_file; }
    int Line() const noexcept { return m_line; }
    const std::wstring& Message() const noexcept { return m_message; }

private:
    const char* m_file;
    int m_line;
    std::wstring m_message;
};

class RuntimeError : public Exception {
public:
    using Exception::Exception;
    const char* what() const noexcept override { return "RuntimeError"; }
};

} // namespace ulm
