// About shows the program's line and version. Options shows the current settings read-only and
// changes nothing yet: OK and Cancel both just close it.
#include <cstdio>

#include "resource.h"
#include "shell/dialogs.h"
#include "shell/service.h"
#include "shell/shell_app.h"

namespace velmora::shell {
namespace {

// Both boxes only show what they hold: OK and Cancel close them alike.
INT_PTR endOnOkOrCancel(HWND dialog, WPARAM wParam) {
    if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        ::EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK aboutProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG: {
        char text[100];
        std::snprintf(text, sizeof text, "%s Tray Icon", "Velmora");
        ::SetDlgItemTextA(dialog, IDC_ABOUT_TITLE, text);
        return TRUE;
    }
    case WM_COMMAND:
        return endOnOkOrCancel(dialog, wParam);
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK optionsProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG: {
        vm::Cvmx* backend = shellApp().backend.get();
        const int type = backend != nullptr ? backend->getConnectionType() : -1;
        ::CheckDlgButton(dialog, IDC_AUTOSTART, isAutostartEnabled() ? BST_CHECKED : BST_UNCHECKED);
        ::CheckDlgButton(dialog, IDC_BRIDGED, type == 0 ? BST_CHECKED : BST_UNCHECKED);
        ::CheckDlgButton(dialog, IDC_NAT, type == 1 ? BST_CHECKED : BST_UNCHECKED);
        ::EnableWindow(::GetDlgItem(dialog, IDC_BRIDGED), FALSE);
        ::EnableWindow(::GetDlgItem(dialog, IDC_NAT), FALSE);
        ::EnableWindow(::GetDlgItem(dialog, IDC_AUTOSTART), FALSE);
        const char* port = backend != nullptr ? backend->getComPort() : nullptr;
        ::SetDlgItemTextA(dialog, IDC_COMPORT, port != nullptr ? port : "");
        return TRUE;
    }
    case WM_COMMAND:
        return endOnOkOrCancel(dialog, wParam);
    default:
        return FALSE;
    }
}

} // namespace

void showAboutDialog(HINSTANCE instance, HWND owner) {
    ::DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_ABOUTBOX), owner, aboutProc, 0);
}

void showOptionsDialog(HINSTANCE instance, HWND owner) {
    ::DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_OPTIONS), owner, optionsProc, 0);
}

} // namespace velmora::shell
