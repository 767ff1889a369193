// Small owners and calls on framework objects shared by the helpers: a
// framework-heap block, a child object closed at the end of a scope, the
// host's text conversion, string objects, and the ObjPtr methods other
// objects call through the interface's method table.
#pragma once

#include "plugin/frame/FrameworkApi.h"

#include <cstdint>

namespace zev::wfsys {

/// A framework-heap block owned for a scope (null: nothing).
struct HostBlock {
    frame::hOBJ owner;
    void* block = nullptr;
    ~HostBlock() {
        if (block && owner)
            owner->sys->ObjHeapFree(owner, block);
    }
};

/// A framework object created for a scope and closed at its end.
struct ChildObject {
    frame::hOBJ obj = nullptr;
    ChildObject() = default;
    ChildObject(const ChildObject&) = delete;
    ChildObject& operator=(const ChildObject&) = delete;
    ~ChildObject() {
        if (obj)
            obj->sys->ObjectClose(obj);
    }
    /// Gives the object to the caller.
    [[nodiscard]] frame::hOBJ Release() {
        frame::hOBJ o = obj;
        obj = nullptr;
        return o;
    }
};

/// The host's text conversion export, looked up once; null without a root.
frame::TextConvertFn HostTextConversion();

/// A host string object (interface 100) under the root holding `text`
/// (UTF-16, may be null for an empty one).
frame::Result NewStringObject(frame::hOBJ* out, const wchar_t* text);
/// Sets a string object's text (`codePage` 1200 or -12; `size` 0: measured).
frame::Result SetStringText(frame::hOBJ string, const void* text, std::uint32_t size,
                            std::int32_t codePage);

/// The ObjPtr methods, by their slots in the interface's method table.
namespace objptr {
constexpr std::uint32_t kSlotIOCreate = 1;
constexpr std::uint32_t kSlotCopy = 2;
constexpr std::uint32_t kSlotRename = 3;
constexpr std::uint32_t kSlotDelete = 4;
constexpr std::uint32_t kSlotReset = 5;
constexpr std::uint32_t kSlotClone = 6;
constexpr std::uint32_t kSlotNext = 7;
constexpr std::uint32_t kSlotStepUp = 8;
constexpr std::uint32_t kSlotStepDown = 9;
constexpr std::uint32_t kSlotChangeTo = 10;

frame::Result Rename(frame::hOBJ ptr, frame::hOBJ destination, std::uint32_t replace);
frame::Result Delete(frame::hOBJ ptr);
frame::Result Reset(frame::hOBJ ptr, std::uint32_t root);
frame::Result Clone(frame::hOBJ ptr, frame::hOBJ* out);
frame::Result Next(frame::hOBJ ptr);
frame::Result StepDown(frame::hOBJ ptr);
frame::Result ChangeTo(frame::hOBJ ptr, frame::hOBJ target);
} // namespace objptr

} // namespace zev::wfsys
