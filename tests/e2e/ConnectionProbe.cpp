// Connects to the product as the installer's entry does and reports what
// happened, for the end-to-end scenarios.
//
//   connection_probe [/fast] [/register] [/reboot]
//
// /fast records the connection's pauses instead of sleeping them. Prints
// "pid=<own id>", then "connected started=<0|1>", "registered",
// "reboot requested" as the steps succeed, "error: <text>" for a failure,
// and with /fast "sleeps 1000=<n> 5000=<n>" at the end.
// Exit code 0, or 1 after a failure.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <map>
#include <stdexcept>

#include "installer/system/ProductConnection.h"

int wmain(int argc, wchar_t** argv) {
    bool fast = false, registerSelf = false, reboot = false;
    for (int i = 1; i < argc; ++i) {
        fast |= _wcsicmp(argv[i], L"/fast") == 0;
        registerSelf |= _wcsicmp(argv[i], L"/register") == 0;
        reboot |= _wcsicmp(argv[i], L"/reboot") == 0;
    }
    std::printf("pid=%lu\n", ::GetCurrentProcessId());
    std::map<DWORD, int> sleeps;
    hotfixer::CUsingGRD::SleepFunction sleep;
    if (fast)
        sleep = [&sleeps](DWORD ms) { ++sleeps[ms]; };

    int status = 0;
    try {
        hotfixer::CUsingGRD connection(::GetModuleHandleW(nullptr), sleep);
        std::printf("connected started=%d\n", connection.StartedService() ? 1 : 0);
        if (registerSelf) {
            connection.RegisterSelfInvisible();
            std::printf("registered\n");
        }
        if (reboot) {
            connection.SetStatusNeedRebootOS();
            std::printf("reboot requested\n");
        }
    } catch (const std::exception& e) {
        std::printf("error: %s\n", e.what());
        status = 1;
    }
    if (fast)
        std::printf("sleeps 1000=%d 5000=%d\n", sleeps[1000], sleeps[5000]);
    return status;
}
