// The framework's service objects: lock (17), token (99) and string (100).
// Each keeps a C++ record in its data record, built by ObjectInit and
// destroyed by ObjectClose.
#include "host/HostInternal.h"

#include "common/UniqueHandle.h"
#include "plugin/frame/Identifiers.h"
#include "plugin/frame/PropertyIds.h"

#include <array>
#include <cstring>
#include <mutex>
#include <new>

namespace zev::host {

using namespace zev::frame;

namespace {

template <typename T> Result Construct(hOBJ obj) {
    new (DataOf<T>(obj)) T();
    return errOK;
}
template <typename T> Result Destroy(hOBJ obj) {
    DataOf<T>(obj)->~T();
    return errOK;
}
template <typename F> AnyFn Slot(F f) {
    return reinterpret_cast<AnyFn>(f);
}

template <typename T> std::array<AnyFn, kInternalSlots> InternalTable() {
    std::array<AnyFn, kInternalSlots> table{};
    table[kSlotObjectInit - 1] = Slot(&Construct<T>);
    table[kSlotObjectClose - 1] = Slot(&Destroy<T>);
    return table;
}

// ---- lock (17) ---------------------------------------------------------------------

struct LockData {
    std::recursive_mutex mutex;
    std::uint32_t depth = 0;
};

Result LockLock(hOBJ obj, std::uint32_t wait) {
    LockData* d = DataOf<LockData>(obj);
    if (wait) {
        d->mutex.lock();
    } else if (!d->mutex.try_lock()) {
        return errLOCKED;
    }
    ++d->depth;
    return errOK;
}

Result LockUnlock(hOBJ obj, std::uint32_t flags) {
    (void)flags;
    LockData* d = DataOf<LockData>(obj);
    if (d->depth == 0)
        return errOBJECT_BAD_STATE;
    --d->depth;
    d->mutex.unlock();
    return errOK;
}

Result LockClose(hOBJ obj) {
    LockData* d = DataOf<LockData>(obj);
    while (d->depth) {
        --d->depth;
        d->mutex.unlock();
    }
    return Destroy<LockData>(obj);
}

// ---- token (99) --------------------------------------------------------------------

/// Assumes the process's (elevated) identity on the calling thread and gives
/// the thread its previous identity back.
struct TokenData {
    UniqueKernelHandle previous;
    bool assumed = false;
};

Result TokenRevert(TokenData* d) {
    if (!d->assumed)
        return errOK;
    const BOOL ok = ::SetThreadToken(nullptr, d->previous.get());
    d->previous.reset();
    d->assumed = false;
    return ok ? errOK : errACCESS_DENIED;
}

Result TokenAssume(hOBJ obj) {
    TokenData* d = DataOf<TokenData>(obj);
    if (d->assumed)
        return errOK;
    UniqueKernelHandle process;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, process.put()))
        return errACCESS_DENIED;
    UniqueKernelHandle duplicate;
    if (!::DuplicateTokenEx(process.get(), TOKEN_IMPERSONATE | TOKEN_QUERY, nullptr,
                            SecurityImpersonation, TokenImpersonation, duplicate.put()))
        return errACCESS_DENIED;
    UniqueKernelHandle previous;
    if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_IMPERSONATE | TOKEN_QUERY | TOKEN_DUPLICATE,
                           TRUE, previous.put()))
        previous.reset();
    if (!::SetThreadToken(nullptr, duplicate.get()))
        return errACCESS_DENIED;
    d->previous = std::move(previous);
    d->assumed = true;
    return errOK;
}

Result TokenIdentity(hOBJ obj, std::uint32_t how) {
    if (how == kTokenAssume)
        return TokenAssume(obj);
    return TokenRevert(DataOf<TokenData>(obj));
}

Result TokenClose(hOBJ obj) {
    TokenRevert(DataOf<TokenData>(obj));
    return Destroy<TokenData>(obj);
}

// ---- string (100) ------------------------------------------------------------------

struct StringData {
    std::wstring text;
};

Result StringGetter(hOBJ obj, std::uint32_t* count, std::uint32_t, void* buffer,
                    std::uint32_t size) {
    const std::wstring& text = DataOf<StringData>(obj)->text;
    const auto bytes = static_cast<std::uint32_t>((text.size() + 1) * sizeof(wchar_t));
    *count = bytes;
    if (!buffer)
        return errOK;
    if (size < bytes)
        return errBUFFER_TOO_SMALL;
    std::memcpy(buffer, text.c_str(), bytes);
    return errOK;
}

Result StringSetter(hOBJ obj, std::uint32_t* count, std::uint32_t, const void* buffer,
                    std::uint32_t size) {
    std::wstring text;
    if (!buffer || !DecodeText(buffer, size - size % sizeof(wchar_t), kCodePageUtf16, text))
        return errPARAMETER_INVALID;
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    DataOf<StringData>(obj)->text = std::move(text);
    *count = size;
    return errOK;
}

Host& HostFor(hOBJ obj) {
    return *static_cast<ObjectInfo*>(obj->hostWord)->host;
}

Result StringExportToProp(hOBJ obj, std::uint32_t* count, hOBJ target, std::uint32_t propId) {
    const std::wstring& text = DataOf<StringData>(obj)->text;
    return HostFor(obj).SetText(target, count, propId, text.c_str(),
                                static_cast<std::uint32_t>((text.size() + 1) * sizeof(wchar_t)),
                                kCodePageUtf16);
}

Result StringImportFromProp(hOBJ obj, std::uint32_t* count, hOBJ source, std::uint32_t propId) {
    if (count)
        *count = 0;
    std::optional<std::wstring> text = HostFor(obj).GetWide(source, propId);
    if (!text)
        return errNOT_FOUND;
    DataOf<StringData>(obj)->text = std::move(*text);
    if (count)
        *count = static_cast<std::uint32_t>((DataOf<StringData>(obj)->text.size() + 1) * 2);
    return errOK;
}

Result StringGetText(hOBJ obj, std::uint32_t* count, void* buffer, std::uint32_t size,
                     std::int32_t codePage, std::uint32_t) {
    return HostFor(obj).GetText(obj, count, kPropFullName, buffer, size, codePage);
}

Result StringSetText(hOBJ obj, std::uint32_t* count, const void* text, std::uint32_t size,
                     std::int32_t codePage, std::uint32_t) {
    return HostFor(obj).SetText(obj, count, kPropFullName, text, size, codePage);
}

Result StringAddText(hOBJ obj, std::uint32_t* count, const void* text, std::uint32_t size,
                     std::int32_t codePage, std::uint32_t) {
    if (count)
        *count = 0;
    std::wstring more;
    if (!text || !DecodeText(text, size ? size : MeasureText(text, codePage), codePage, more))
        return errPARAMETER_INVALID;
    while (!more.empty() && more.back() == L'\0')
        more.pop_back();
    std::wstring& own = DataOf<StringData>(obj)->text;
    own += more;
    if (count)
        *count = static_cast<std::uint32_t>((own.size() + 1) * sizeof(wchar_t));
    return errOK;
}

Result StringAddSeparator(hOBJ obj) {
    std::wstring& own = DataOf<StringData>(obj)->text;
    if (!own.empty() && own.back() != L'\\' && own.back() != L'/')
        own += L'\\';
    return errOK;
}

// ---- tables ------------------------------------------------------------------------

const std::array<AnyFn, kInternalSlots> kLockInternal = [] {
    auto t = InternalTable<LockData>();
    t[kSlotObjectClose - 1] = Slot(&LockClose);
    return t;
}();
const AnyFn kLockMethods[] = {Slot(&LockLock), Slot(&LockUnlock)};

const std::array<AnyFn, kInternalSlots> kTokenInternal = [] {
    auto t = InternalTable<TokenData>();
    t[kSlotObjectClose - 1] = Slot(&TokenClose);
    return t;
}();
const AnyFn kTokenMethods[] = {Slot(&TokenIdentity), Slot(&TokenAssume)};

const std::array<AnyFn, kInternalSlots> kStringInternal = InternalTable<StringData>();
const std::array<AnyFn, kStringSlots> kStringMethods = [] {
    std::array<AnyFn, kStringSlots> t{};
    t[kStringSlotExportToProp - 1] = Slot(&StringExportToProp);
    t[kStringSlotImportFromProp - 1] = Slot(&StringImportFromProp);
    t[kStringSlotGetText - 1] = Slot(&StringGetText);
    t[kStringSlotSetText - 1] = Slot(&StringSetText);
    t[kStringSlotAddText - 1] = Slot(&StringAddText);
    t[kStringSlotAddSeparator - 1] = Slot(&StringAddSeparator);
    return t;
}();
const PropertyRow kStringProperties[] = {
    HandlerRow(kPropFullName, StringGetter, StringSetter),
    HandlerRow(kPropName, StringGetter, StringSetter),
    ConstRow(kPropCodePage, static_cast<std::uint32_t>(kCodePageUtf16), 4),
    ConstRow(CodePagePropertyOf(kPropFullName), static_cast<std::uint32_t>(kCodePageUtf16), 4),
    ConstRow(CodePagePropertyOf(kPropName), static_cast<std::uint32_t>(kCodePageUtf16), 4),
};

template <typename T, std::size_t N> std::uint32_t Count(const T (&)[N]) {
    return static_cast<std::uint32_t>(N);
}

} // namespace

std::vector<Registration> ServiceRegistrations() {
    return {
        {kIidLock, kPidKernel, 0, 1, 0, kLockInternal.data(), kInternalSlots, kLockMethods,
         Count(kLockMethods), nullptr, 0, sizeof(LockData), 0},
        {kIidToken, kPidKernel, 0, 1, 0, kTokenInternal.data(), kInternalSlots, kTokenMethods,
         Count(kTokenMethods), nullptr, 0, sizeof(TokenData), 0},
        {kIidString, kPidKernel, 0, 1, 0, kStringInternal.data(), kInternalSlots,
         kStringMethods.data(), kStringSlots, kStringProperties, Count(kStringProperties),
         sizeof(StringData), 0},
    };
}

} // namespace zev::host
