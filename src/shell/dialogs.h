// The two modal dialogs of the tray menu, owned by the main window.
#pragma once
#ifdef _WIN32
#include <windows.h>

namespace velmora::shell {

void showAboutDialog(HINSTANCE instance, HWND owner);   // dialog 103
void showOptionsDialog(HINSTANCE instance, HWND owner); // dialog 138

} // namespace velmora::shell
#endif
