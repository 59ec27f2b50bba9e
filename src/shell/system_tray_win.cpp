#include <windows.h>

#include <shellapi.h>

#include <cstdio>

#include "shell/platform_version_win.h"
#include "shell/system_tray.h"
#include "shell/tray_rules.h"

namespace velmora::shell {
namespace {

// Where the taskbar lies, asked from the shell; None when there is no taskbar window.
TaskbarEdge taskbarEdge(TaskbarRect* rect) {
    APPBARDATA data{};
    data.cbSize = sizeof data;
    data.hWnd = ::FindWindowA("Shell_TrayWnd", nullptr);
    if (data.hWnd == nullptr || !::SHAppBarMessage(ABM_GETTASKBARPOS, &data)) {
        return TaskbarEdge::None;
    }
    *rect = {data.rc.left, data.rc.top, data.rc.right, data.rc.bottom};
    switch (data.uEdge) {
    case ABE_LEFT:
        return TaskbarEdge::Left;
    case ABE_TOP:
        return TaskbarEdge::Top;
    case ABE_RIGHT:
        return TaskbarEdge::Right;
    case ABE_BOTTOM:
        return TaskbarEdge::Bottom;
    default:
        return TaskbarEdge::None;
    }
}

} // namespace

CSystemTray::CSystemTray() {
    record_.cbSize = sizeof record_;
    taskbarCreatedMessage_ = ::RegisterWindowMessageA("TaskbarCreated");
}

CSystemTray::~CSystemTray() {
    destroy();
}

int CSystemTray::create(HINSTANCE instance, HWND targetWindow, UINT callbackMessage,
                        const char* tooltip, HICON icon, UINT id, int hidden) {
    const PlatformVersion version = platformVersion();
    if (version.major <= 3) {
        enabled_ = 0;
        return 0;
    }
    if (hiddenWindow_ != nullptr || menu_ != nullptr) {
        destroy(); // a second create without destroy would leak the window and the menu
    }
    enabled_ = 1;
    balloonCapable_ = (version.nt && version.major > 4) ? 1 : 0;
    instance_ = instance;

    WNDCLASSA wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = hiddenWindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kTrayWindowClass;
    // Fails with "class already exists" on every create after the first: that is fine.
    ::RegisterClassA(&wc);
    hiddenWindow_ =
        ::CreateWindowExA(0, kTrayWindowClass, "", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, this);
    targetWindow_ = targetWindow != nullptr ? targetWindow : hiddenWindow_;

    record_ = NOTIFYICONDATAA{};
    record_.cbSize = sizeof record_;
    record_.hWnd = targetWindow_;
    record_.uID = id;
    record_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record_.uCallbackMessage = callbackMessage;
    record_.hIcon = icon;
    copyTooltip(record_.szTip, tooltip);

    menu_ = ::LoadMenuA(instance, MAKEINTRESOURCEA(id));
    popupMenu_ = menu_ != nullptr ? ::GetSubMenu(menu_, 0) : nullptr;

    if (hidden && balloonCapable_) {
        record_.uFlags = NIF_STATE;
        record_.dwState = NIS_HIDDEN;
        record_.dwStateMask = NIS_HIDDEN;
    }
    savedFlags_ = record_.uFlags;
    hidden_ = hidden ? 1 : 0;
    addPending_ = 0;
    if (hidden && !balloonCapable_) {
        removed_ = 1;
        return 0;
    }
    if (!::Shell_NotifyIconA(NIM_ADD, &record_)) {
        removed_ = 1;
        addPending_ = 1;
        return 0;
    }
    removed_ = 0;
    return 1;
}

int CSystemTray::remove() {
    addPending_ = 0;
    if (!enabled_ || removed_) {
        return 1;
    }
    record_.uFlags = 0;
    if (!::Shell_NotifyIconA(NIM_DELETE, &record_)) {
        return 0;
    }
    hidden_ = 1;
    removed_ = 1;
    return 1;
}

void CSystemTray::destroy() {
    remove();
    if (menu_ != nullptr) {
        ::DestroyMenu(menu_);
        menu_ = nullptr;
        popupMenu_ = nullptr;
    }
    if (hiddenWindow_ != nullptr) {
        const HWND window = hiddenWindow_;
        hiddenWindow_ = nullptr;
        if (targetWindow_ == window) {
            targetWindow_ = nullptr;
        }
        ::DestroyWindow(window);
    }
}

void CSystemTray::addAgain() {
    if (!addPending_ || hidden_) {
        return;
    }
    record_.uFlags = savedFlags_;
    const bool added = ::Shell_NotifyIconA(NIM_ADD, &record_) != FALSE;
    removed_ = added ? 0 : 1;
    addPending_ = added ? 0 : 1;
}

int CSystemTray::setIcon(HICON icon) {
    if (!enabled_) {
        return 0;
    }
    record_.hIcon = icon;
    if (hidden_) {
        return 1;
    }
    record_.uFlags = NIF_ICON;
    return ::Shell_NotifyIconA(NIM_MODIFY, &record_) ? 1 : 0;
}

int CSystemTray::setTooltip(const char* text) {
    if (!enabled_) {
        return 0;
    }
    copyTooltip(record_.szTip, text);
    if (hidden_) {
        return 1;
    }
    record_.uFlags = NIF_TIP;
    return ::Shell_NotifyIconA(NIM_MODIFY, &record_) ? 1 : 0;
}

int CSystemTray::setMenuItemGrayed(UINT id, int grayed) {
    if (!enabled_ || popupMenu_ == nullptr) {
        return 0;
    }
    return ::EnableMenuItem(popupMenu_, id, MF_BYCOMMAND | (grayed ? MF_GRAYED : MF_ENABLED)) != -1
               ? 1
               : 0;
}

int CSystemTray::renameMenuItem(UINT id, const char* text) {
    if (!enabled_ || popupMenu_ == nullptr) {
        return 0;
    }
    MENUITEMINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING;
    info.dwTypeData = const_cast<char*>(text);
    return ::SetMenuItemInfoA(popupMenu_, id, FALSE, &info) ? 1 : 0;
}

int CSystemTray::setDefaultMenuItem(UINT item, int byPosition) {
    if (!enabled_ || popupMenu_ == nullptr) {
        return 0;
    }
    defaultItem_ = item;
    defaultByPosition_ = byPosition ? 1 : 0;
    return 1;
}

void CSystemTray::customizeMenu(HMENU) {}

LRESULT CSystemTray::handleNotification(WPARAM wParam, LPARAM lParam) {
    if (wParam != record_.uID || targetWindow_ == nullptr) {
        return 0;
    }
    const UINT event = LOWORD(lParam);
    if (event == WM_RBUTTONUP) {
        if (popupMenu_ == nullptr) {
            return 0;
        }
        ::SetMenuDefaultItem(popupMenu_, defaultItem_, defaultByPosition_);
        customizeMenu(popupMenu_);
        POINT cursor{};
        ::GetCursorPos(&cursor);
        const PlatformVersion version = platformVersion();
        const bool version60 = version.major == 6 && version.minor == 0;
        TaskbarRect taskbar;
        const TaskbarEdge edge = version60 ? taskbarEdge(&taskbar) : TaskbarEdge::None;
        const PopupPlacement where = popupPlacement(::GetSystemMetrics(SM_MENUDROPALIGNMENT) != 0,
                                                    version60, edge, taskbar, cursor.x, cursor.y);
        ::SetForegroundWindow(targetWindow_);
        const UINT command = static_cast<UINT>(
            ::TrackPopupMenuEx(popupMenu_, where.flags | TPM_RETURNCMD | TPM_NONOTIFY, where.x,
                               where.y, targetWindow_, nullptr));
        if (command != 0) {
            const bool shift = (::GetKeyState(VK_SHIFT) & 0x8000) != 0;
            ::PostMessageA(targetWindow_, WM_COMMAND, command, shift ? 1 : 0);
        }
        // Lets the menu close properly when the user clicks elsewhere.
        ::PostMessageA(targetWindow_, WM_NULL, 0, 0);
    } else if (event == WM_LBUTTONDBLCLK) {
        ::SetForegroundWindow(targetWindow_);
        UINT command = defaultItem_;
        if (defaultByPosition_) {
            if (popupMenu_ == nullptr) {
                return 0;
            }
            command = ::GetMenuItemID(popupMenu_, static_cast<int>(defaultItem_));
            if (command == static_cast<UINT>(-1)) {
                return 1; // a submenu or no entry there: nothing to run
            }
        }
        ::PostMessageA(targetWindow_, WM_COMMAND, command, 0);
    }
    return 1;
}

LRESULT CALLBACK CSystemTray::hiddenWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        const auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        return ::DefWindowProcA(hwnd, msg, wParam, lParam);
    }
    auto* tray = reinterpret_cast<CSystemTray*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (msg == WM_NCDESTROY) {
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        return ::DefWindowProcA(hwnd, msg, wParam, lParam);
    }
    if (tray != nullptr && msg != 0) {
        if (msg == tray->taskbarCreatedMessage_ ||
            (msg == WM_SETTINGCHANGE && wParam == SPI_SETWORKAREA)) {
            tray->addAgain();
            return 0;
        }
        if (msg == tray->record_.uCallbackMessage && tray->targetWindow_ == hwnd) {
            return tray->handleNotification(wParam, lParam);
        }
    }
    return ::DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace velmora::shell
