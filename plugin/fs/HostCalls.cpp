#include "plugin/fs/HostCalls.h"

#include "plugin/frame/Identifiers.h"
#include "plugin/frame/Settings.h"

namespace zev::wfsys {

using namespace zev::frame;

TextConvertFn HostTextConversion() {
    static TextConvertFn fn = nullptr; // a race only repeats the look-up
    if (!fn && g_root) {
        void* found = nullptr;
        RootOf(g_root).LookupExport(g_root, &found, kPidTextConversion, kFidTextConvert,
                                    kLookupMode);
        fn = reinterpret_cast<TextConvertFn>(found);
    }
    return fn;
}

Result SetStringText(hOBJ string, const void* text, std::uint32_t size, std::int32_t codePage) {
    auto setText = reinterpret_cast<StringSetTextFn>(string->methods[kStringSlotSetText - 1]);
    std::uint32_t count = 0;
    return setText(string, &count, text ? text : L"", size, codePage, kStringFlagWhole);
}

Result NewStringObject(hOBJ* out, const wchar_t* text) {
    *out = nullptr;
    if (!g_root)
        return errUNEXPECTED;
    ChildObject string;
    Result r = g_root->sys->ObjectCreateQuick(g_root, &string.obj, kIidString, 0, 0);
    if (Failed(r)) {
        string.obj = nullptr;
        return r;
    }
    r = SetStringText(string.obj, text, 0, kCodePageUtf16);
    if (Failed(r))
        return r;
    *out = string.Release();
    return errOK;
}

namespace objptr {

namespace {
template <typename... A> Result Call(hOBJ ptr, std::uint32_t slot, A... args) {
    if (!ptr)
        return errPARAMETER_INVALID;
    const AnyFn fn = ptr->methods[slot - 1];
    if (!fn)
        return errPROPERTY_NOT_IMPLEMENTED;
    return reinterpret_cast<Result (*)(hOBJ, A...)>(fn)(ptr, args...);
}
} // namespace

Result Rename(hOBJ ptr, hOBJ destination, std::uint32_t replace) {
    return Call(ptr, kSlotRename, destination, replace);
}
Result Delete(hOBJ ptr) {
    return Call(ptr, kSlotDelete);
}
Result Reset(hOBJ ptr, std::uint32_t root) {
    return Call(ptr, kSlotReset, root);
}
Result Clone(hOBJ ptr, hOBJ* out) {
    return Call(ptr, kSlotClone, out);
}
Result Next(hOBJ ptr) {
    return Call(ptr, kSlotNext);
}
Result StepDown(hOBJ ptr) {
    return Call(ptr, kSlotStepDown);
}
Result ChangeTo(hOBJ ptr, hOBJ target) {
    return Call(ptr, kSlotChangeTo, target);
}

} // namespace objptr

} // namespace zev::wfsys
