// Velmora.exe: the windowed program (also started by the service control manager).
#include <windows.h>

#include "shell/shell_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    return velmora::shell::processEntry(instance, commandLine);
}
