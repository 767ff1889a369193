// The framework's trace formatter: printf conventions on a narrow format,
// plus the framework's own directives "%terr", "%tflags" and "%tenum".
#include "host/Host.h"

#include "plugin/frame/ResultCodes.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace zev::host {

using namespace zev::frame;

namespace {

struct NamedCode {
    Result code;
    const char* name;
};

#define ZEV_CODE(name)                                                                             \
    { name, #name }
constexpr NamedCode kCodeNames[] = {
    ZEV_CODE(errOK),
    ZEV_CODE(warnEOF),
    ZEV_CODE(errUNEXPECTED),
    ZEV_CODE(errNOT_ENOUGH_MEMORY),
    ZEV_CODE(errNOT_SUPPORTED),
    ZEV_CODE(errOPERATION_REFUSED),
    ZEV_CODE(errBUFFER_TOO_SMALL),
    ZEV_CODE(errACCESS_DENIED),
    ZEV_CODE(errPARAMETER_INVALID),
    ZEV_CODE(errOUT_OF_RANGE),
    ZEV_CODE(errBAD_PATH),
    ZEV_CODE(errNOT_FOUND),
    ZEV_CODE(errLOCKED),
    ZEV_CODE(errEND_OF_THE_LIST),
    ZEV_CODE(errNO_DELETE_FUNCTION),
    ZEV_CODE(errRECORD_TYPE_LENIENT),
    ZEV_CODE(errWRITE_PROTECT),
    ZEV_CODE(errOUT_OF_SPACE),
    ZEV_CODE(errNOT_READY),
    ZEV_CODE(errREMOTE_NOT_LOADED),
    ZEV_CODE(errFUNCTION_NOT_FOUND),
    ZEV_CODE(errPROPERTY_NOT_IMPLEMENTED),
    ZEV_CODE(errOBJECT_BAD_STATE),
    ZEV_CODE(errOBJECT_READ_ONLY),
    ZEV_CODE(errOBJECT_NOT_INITIALIZED),
    ZEV_CODE(errOBJECT_NOT_CREATED),
    ZEV_CODE(errOBJECT_NOT_FOUND),
    ZEV_CODE(errOBJECT_NOT_OPENED),
    ZEV_CODE(errOBJECT_READ),
    ZEV_CODE(errOBJECT_WRITE),
    ZEV_CODE(errOBJECT_SEEK),
    ZEV_CODE(errOBJECT_RESIZE),
    ZEV_CODE(errOBJECT_ALREADY_EXISTS),
    ZEV_CODE(errOBJECT_INCOMPATIBLE),
    ZEV_CODE(errREMOTE_LOAD_FAILED),
    ZEV_CODE(errDELETE_ON_CLOSE_FAILED),
    ZEV_CODE(errIS_FOLDER),
    ZEV_CODE(errFLUSH_FAILED),
};
#undef ZEV_CODE

std::string Hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::string WideToUtf8(const wchar_t* text, int length = -1) {
    std::wstring wide = length < 0 ? std::wstring(text) : std::wstring(text, length);
    std::string out;
    EncodeText(wide, 65001, out);
    return out;
}

std::string FlagsText(const TraceFlags* flags) {
    if (!flags)
        return "(null)";
    if (flags->value == 0)
        return "0";
    std::string text;
    std::uint32_t rest = flags->value;
    for (std::uint32_t bit = 1; bit != 0; bit <<= 1) {
        if (!(flags->value & bit))
            continue;
        const char* name = flags->name ? flags->name(bit) : nullptr;
        if (!name)
            continue;
        if (!text.empty())
            text += '|';
        text += name;
        rest &= ~bit;
    }
    if (rest) {
        if (!text.empty())
            text += '|';
        text += Hex32(rest);
    }
    return text;
}

std::string EnumText(const TraceFlags* value) {
    if (!value)
        return "(null)";
    const char* name = value->name ? value->name(value->value) : nullptr;
    return name ? std::string(name) : std::to_string(value->value);
}

bool Consume(const char*& p, const char* word) {
    const std::size_t n = std::strlen(word);
    if (std::strncmp(p, word, n) != 0)
        return false;
    p += n;
    return true;
}

/// Copies a width or precision ("*" takes it from the arguments).
void CopyNumber(const char*& p, va_list& args, std::string& spec) {
    if (*p == '*') {
        spec += std::to_string(va_arg(args, int));
        ++p;
        return;
    }
    while (*p >= '0' && *p <= '9')
        spec += *p++;
}

/// Formats one standard conversion whose directive (without length
/// modifiers) is in `spec`, fetching its argument from `args`.
void FormatOne(std::string& out, std::string spec, const std::string& length, char conv,
               va_list& args) {
    char buffer[512];
    auto emit = [&](auto value) {
        std::snprintf(buffer, sizeof buffer, spec.c_str(), value);
        out += buffer;
    };
    const bool wide64 = length == "ll" || length == "I64" || length == "j" || length == "z" ||
                        length == "t" || length == "I"; // long is 32-bit here
    switch (conv) {
    case 'd':
    case 'i':
        if (wide64) {
            spec.insert(spec.size() - 1, "I64");
            emit(va_arg(args, long long));
        } else {
            emit(va_arg(args, int));
        }
        break;
    case 'u':
    case 'o':
    case 'x':
    case 'X':
        if (wide64) {
            spec.insert(spec.size() - 1, "I64");
            emit(va_arg(args, unsigned long long));
        } else {
            emit(va_arg(args, unsigned int));
        }
        break;
    case 'c':
    case 'C': {
        const int c = va_arg(args, int);
        if (conv == 'C' || length == "l" || length == "w") {
            const wchar_t w[2] = {static_cast<wchar_t>(c), 0};
            out += WideToUtf8(w);
        } else {
            out += static_cast<char>(c);
        }
        break;
    }
    case 's':
    case 'S': {
        const bool isWide = (conv == 'S' && length != "h") || length == "l" || length == "w";
        std::string text;
        if (isWide) {
            const auto* w = va_arg(args, const wchar_t*);
            text = w ? WideToUtf8(w) : "(null)";
        } else {
            const auto* n = va_arg(args, const char*);
            text = n ? n : "(null)";
        }
        spec.back() = 's';
        emit(text.c_str());
        break;
    }
    case 'p':
        emit(va_arg(args, void*));
        break;
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
        emit(va_arg(args, double));
        break;
    case 'n':
        (void)va_arg(args, void*); // never written through
        break;
    default:
        out += spec; // not a conversion: shown as written
        break;
    }
}

} // namespace

std::string ResultText(Result code) {
    for (const NamedCode& c : kCodeNames)
        if (c.code == code)
            return std::string(c.name) + "(" + Hex32(static_cast<std::uint32_t>(code)) + ")";
    return Hex32(static_cast<std::uint32_t>(code));
}

std::string FormatTrace(const char* format, va_list args) {
    std::string out;
    if (!format)
        return out;
    va_list ap;
    va_copy(ap, args);
    for (const char* p = format; *p;) {
        if (*p != '%') {
            out += *p++;
            continue;
        }
        ++p;
        if (*p == '%') {
            out += '%';
            ++p;
            continue;
        }
        if (Consume(p, "terr")) {
            out += ResultText(va_arg(ap, Result));
            continue;
        }
        if (Consume(p, "tflags")) {
            out += FlagsText(va_arg(ap, const TraceFlags*));
            continue;
        }
        if (Consume(p, "tenum")) {
            out += EnumText(va_arg(ap, const TraceFlags*));
            continue;
        }
        std::string spec = "%";
        while (*p && std::strchr("-+ #0", *p))
            spec += *p++;
        CopyNumber(p, ap, spec); // width
        if (*p == '.') {
            spec += *p++;
            CopyNumber(p, ap, spec); // precision
        }
        std::string length;
        for (const char* m : {"I64", "I32", "hh", "ll", "h", "l", "L", "w", "I", "j", "z", "t"})
            if (Consume(p, m)) {
                length = m;
                break;
            }
        if (length == "I32")
            length.clear();
        if (!*p) {
            out += spec;
            break;
        }
        const char conv = *p++;
        spec += conv;
        FormatOne(out, spec, length, conv, ap);
    }
    va_end(ap);
    return out;
}

} // namespace zev::host
