// hotfixer.exe: the GUI-subsystem entry with a wide command line.
#include <windows.h>

#include "installer/ProgramEntry.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
    return hotfixer::RunHotfixerProgram(instance, commandLine);
}
