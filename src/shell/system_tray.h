// The notification-area icon: adds, changes and removes it, owns its popup menu, turns clicks on
// it into WM_COMMAND messages posted to the target window, and adds it again when the taskbar
// comes back. One object per program, used on the main thread only.
#pragma once
#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>

namespace velmora::shell {

inline constexpr char kTrayWindowClass[] = "TrayIconClass";

class CSystemTray {
public:
    CSystemTray();
    virtual ~CSystemTray();
    CSystemTray(const CSystemTray&) = delete;
    CSystemTray& operator=(const CSystemTray&) = delete;

    // The callback-message handler: a right button up opens the popup menu and posts the chosen
    // command (second parameter 1 when Shift is down); a left double click posts the default
    // entry's command (second parameter 0). 1 when handled, 0 otherwise.
    virtual LRESULT handleNotification(WPARAM wParam, LPARAM lParam);
    // Called just before the popup menu opens.
    virtual void customizeMenu(HMENU popup);

    // Creates the hidden "TrayIconClass" window, loads menu `id` (its first submenu is the popup)
    // and adds the icon. targetWindow receives the callback message and the posted commands (the
    // hidden window when null). 1 when the icon was added.
    int create(HINSTANCE instance, HWND targetWindow, UINT callbackMessage, const char* tooltip,
               HICON icon, UINT id, int hidden);
    // Removes the icon (if in the area), destroys the menu and the hidden window.
    void destroy();

    // NIM_MODIFY results (1/0); while the icon is hidden the change is only stored (1).
    int setIcon(HICON icon);
    int setTooltip(const char* text); // cut to its first 127 characters
    int setMenuItemGrayed(UINT id, int grayed);
    int renameMenuItem(UINT id, const char* text);
    int setDefaultMenuItem(UINT item, int byPosition);

    // State, for the main window and for tests.
    HWND hiddenWindow() const { return hiddenWindow_; }
    HWND targetWindow() const { return targetWindow_; }
    HMENU popupMenu() const { return popupMenu_; }
    const NOTIFYICONDATAA& record() const { return record_; }
    bool enabled() const { return enabled_ != 0; }
    bool isHidden() const { return hidden_ != 0; }
    bool isRemoved() const { return removed_ != 0; }
    bool addPending() const { return addPending_ != 0; }
    UINT taskbarCreatedMessage() const { return taskbarCreatedMessage_; }

private:
    static LRESULT CALLBACK hiddenWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    int remove();
    void addAgain();

    NOTIFYICONDATAA record_{};
    HINSTANCE instance_ = nullptr;
    HWND hiddenWindow_ = nullptr;
    HWND targetWindow_ = nullptr;
    int enabled_ = 0;
    int hidden_ = 1;
    int removed_ = 1;
    int addPending_ = 0;
    int balloonCapable_ = 0;
    HMENU menu_ = nullptr;
    HMENU popupMenu_ = nullptr;
    UINT defaultItem_ = 0;
    int defaultByPosition_ = 1;
    UINT savedFlags_ = 0;
    UINT taskbarCreatedMessage_ = 0;
};

} // namespace velmora::shell
#endif
