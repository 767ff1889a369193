#include "installer/FixActions.h"

#include <sstream>

#include "common/UniqueHandle.h"
#include "installer/CmdParser.h"
#include "installer/SystemUtils.h"
#include "installer/diagnostics/TraceFile.h"

namespace hotfixer {

namespace {

constexpr DWORD kHx127Bit = 0x8;

zev::UniqueHKey CreateKey(const FixActionRegistry& where, const wchar_t* path, REGSAM access,
                          const char* op) {
    zev::UniqueHKey key;
    ThrowIfFailed(::RegCreateKeyExW(where.root, (where.prefix + path).c_str(), 0, nullptr,
                                    REG_OPTION_NON_VOLATILE, access, nullptr, key.put(), nullptr),
                  op);
    return key;
}

zev::UniqueHKey OpenKey(const FixActionRegistry& where, const wchar_t* path, REGSAM access,
                        const char* op) {
    zev::UniqueHKey key;
    ThrowIfFailed(::RegOpenKeyExW(where.root, (where.prefix + path).c_str(), 0, access, key.put()),
                  op);
    return key;
}

LSTATUS ReadDword(HKEY key, const wchar_t* name, DWORD& value) {
    DWORD size = sizeof(value);
    return ::RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
}

void WriteDword(HKEY key, const wchar_t* name, DWORD value, const char* op) {
    ThrowIfFailed(::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                   sizeof(value)),
                  op);
}

} // namespace

void ApplyFixActions(const std::wstring& patchId, const boost::shared_ptr<CCMDParser>& parser,
                     const FixActionRegistry& registry) {
    if (patchId == L"hx104")
        ApplyHx104Actions(*parser, registry);
    else if (patchId == L"hx127")
        ApplyHx127Actions(registry);
    else if (patchId == L"hx266")
        ApplyHx266Actions(registry);
}

void RollbackFixActions(const std::wstring& patchId, const boost::shared_ptr<CCMDParser>& parser,
                        const FixActionRegistry& registry) {
    if (patchId == L"hx104")
        RollbackHx104Actions(*parser, registry);
}

void ApplyHx104Actions(const CCMDParser& parser, const FixActionRegistry& registry) {
    static const wchar_t kOp[] = L"ApplyHx104Actions";
    static const char kOpNarrow[] = "ApplyHx104Actions";
    TraceLine(kTraceNotify, L"%s: Apply hx104 custom actions.", kOp);
    if (!parser.HasOption(L"/timelimit")) {
        TraceLine(kTraceNotify, L"%s: There are no time limit parameter.", kOp);
        return;
    }
    const std::wstring value = parser.GetOptionValue(L"/timelimit");
    TraceLine(kTraceNotify, L"%s: Input parameter = %s", kOp, value.c_str());
    int limit = 0;
    std::wistringstream stream(value);
    stream >> limit;
    if (stream.fail())
        limit = 0;
    TraceLine(kTraceNotify, L"%s: Time limit = %d", kOp, limit);
    const auto key = CreateKey(registry, kHx104Key, KEY_WRITE, kOpNarrow);
    WriteDword(key.get(), kHx104Value, static_cast<DWORD>(limit), kOpNarrow);
    TraceLine(kTraceNotify, L"%s: Applied succesfully. Time limit has been set.", kOp);
}

void RollbackHx104Actions(const CCMDParser& /*parser*/, const FixActionRegistry& registry) {
    static const wchar_t kOp[] = L"RollbackHx104Actions";
    static const char kOpNarrow[] = "RollbackHx104Actions";
    TraceLine(kTraceNotify, L"%s: Rollback hx104 custom actions.", kOp);
    const auto key = OpenKey(registry, kHx104Key, KEY_SET_VALUE, kOpNarrow);
    ThrowIfFailed(::RegDeleteValueW(key.get(), kHx104Value), kOpNarrow);
    TraceLine(kTraceNotify, L"%s: Rollback succesfully done.", kOp);
}

void ApplyHx127Actions(const FixActionRegistry& registry) {
    static const wchar_t kOp[] = L"ApplyHx127Actions";
    static const char kOpNarrow[] = "ApplyHx127Actions";
    TraceLine(kTraceNotify, L"%s: Apply hx127 custom actions.", kOp);
    const auto key = OpenKey(registry, kHx127Key, KEY_ALL_ACCESS, kOpNarrow);
    DWORD flags = 0;
    ThrowIfFailed(ReadDword(key.get(), kHx127Value, flags), kOpNarrow);
    WriteDword(key.get(), kHx127Value, flags | kHx127Bit, kOpNarrow);
    TraceLine(kTraceNotify, L"%s: Applied succesfully", kOp);
}

void ApplyHx266Actions(const FixActionRegistry& registry) {
    static const wchar_t kOp[] = L"ApplyHx266Actions";
    static const char kOpNarrow[] = "ApplyHx266Actions";
    TraceLine(kTraceNotify, L"%s: Apply hx266 custom actions.", kOp);
    const auto key = CreateKey(registry, kHx266Key, KEY_ALL_ACCESS, kOpNarrow);
    DWORD count = 0;
    if (ReadDword(key.get(), kHx266Value, count) == ERROR_SUCCESS) {
        TraceLine(kTraceNotify, L"%s: EnforceCheckOnReadDisabled exists and equals %d", kOp,
                  static_cast<int>(count));
        ++count;
    } else {
        TraceLine(kTraceNotify,
                  L"%s: EnforceCheckOnReadDisabled doesn't exist and it will be set to default "
                  L"value",
                  kOp);
        count = 1;
    }
    TraceLine(kTraceNotify, L"%s: Now EnforceCheckOnReadDisabled = %d", kOp,
              static_cast<int>(count));
    WriteDword(key.get(), kHx266Value, count, kOpNarrow);
    TraceLine(kTraceNotify, L"%s: Applied succesfully.", kOp);
}

} // namespace hotfixer
