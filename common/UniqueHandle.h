// Move-only owners for Windows handles, keys and heap blocks.
//
// One template, set by a traits class that names the invalid value and the
// close function, gives every owner the same rules: reset() and the
// destructor keep the thread's last error, release() hands the handle back
// and must be used, and no owner can be copied.
#pragma once

#include <windows.h>

#include <utility>

namespace zev {

template <typename Traits> class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Type h) noexcept : m_h(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : m_h(o.release()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o)
            reset(o.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    /// Closes the held handle (if any) and takes `h`; GetLastError survives.
    void reset(Type h = Traits::Invalid()) noexcept {
        if (Traits::IsValid(m_h)) {
            const DWORD err = ::GetLastError();
            Traits::Close(m_h);
            ::SetLastError(err);
        }
        m_h = h;
    }
    /// Gives up ownership without closing.
    [[nodiscard]] Type release() noexcept { return std::exchange(m_h, Traits::Invalid()); }
    Type get() const noexcept { return m_h; }
    /// For out-parameters: closes what is held and returns the slot.
    Type* put() noexcept {
        reset();
        return &m_h;
    }
    bool valid() const noexcept { return Traits::IsValid(m_h); }
    explicit operator bool() const noexcept { return valid(); }

private:
    Type m_h = Traits::Invalid();
};

/// Kernel handles whose failure value is NULL (processes, threads, mutexes).
struct HandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};
/// File handles, whose failure value is INVALID_HANDLE_VALUE.
struct FileTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};
struct FindTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::FindClose(h); }
};
struct RegKeyTraits {
    using Type = HKEY;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { ::RegCloseKey(h); }
};
struct LocalMemTraits {
    using Type = HLOCAL;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { ::LocalFree(h); }
};
struct ModuleTraits {
    using Type = HMODULE;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { ::FreeLibrary(h); }
};
struct EventSourceTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static bool IsValid(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { ::DeregisterEventSource(h); }
};

using UniqueKernelHandle = UniqueHandle<HandleTraits>;
using UniqueFile = UniqueHandle<FileTraits>;
using UniqueFind = UniqueHandle<FindTraits>;
using UniqueHKey = UniqueHandle<RegKeyTraits>;
using UniqueLocal = UniqueHandle<LocalMemTraits>;
using UniqueModule = UniqueHandle<ModuleTraits>;
using UniqueEventSource = UniqueHandle<EventSourceTraits>;

} // namespace zev
