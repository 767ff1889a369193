// The module entry of wfsys.vpm. The run-time start-up code handles the
// system's reasons 0 to 3 and passes every reason here; the framework calls
// it with its root object, its own reasons and a pointer to a result code.
#include "plugin/frame/Entry.h"

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason <= DLL_THREAD_DETACH)
        return TRUE;
    return zev::wfsys::PluginEntry(reinterpret_cast<zev::frame::hOBJ>(instance), reason,
                                   static_cast<zev::frame::Result*>(reserved));
}
