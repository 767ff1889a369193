// libFuzzer: registry preparation and object checking. The input is used
// as a registry image beside the genuine development registries, and as an
// object to check against them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "signature/BuiltinRoot.h"
#include "signature/ZsigLibrary.h"
#include "tests/native/fuzz/FuzzSeeds.h"

using namespace zsig;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Context* ctx = ZSIG_Init(std::malloc, std::free, 0, 1);
    if (!ctx)
        __builtin_trap();
    ParList* regs = nullptr;
    ParList* objs = nullptr;
    ZSIG_ParList_Create(&regs);
    ZSIG_ParList_Create(&objs);
    const auto& al = zev::fuzz::DevRegistry("al.pbv");
    const auto& oper = zev::fuzz::DevRegistry("oper.pbv");
    ZSIG_ParList_AddRegistryImage(regs, al.data(), uint32_t(al.size()), nullptr, nullptr);
    ZSIG_ParList_AddRegistryImage(regs, data, uint32_t(size), nullptr, nullptr);
    ZSIG_ParList_AddRegistryImage(regs, oper.data(), uint32_t(oper.size()), nullptr, nullptr);
    ZSIG_PrepareRegsSet(ctx, regs, 0);
    ZSIG_ParList_AddObjectImage(objs, data, uint32_t(size), nullptr, nullptr);
    ZSIG_CheckObjects(ctx, objs, 0);
    Result status;
    for (ItemHandle h = ZSIG_ParList_FirstFailed(regs, &status); h;
         h = ZSIG_ParList_NextFailed(regs, h, &status))
        ;
    ZSIG_ParList_Release(objs);
    ZSIG_ParList_Release(regs);
    ZSIG_Shutdown(ctx, true);
    return 0;
}
