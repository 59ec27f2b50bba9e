#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "resource.h"
#include "shell/system_tray.h"

namespace velmora::shell {
namespace {

struct Command {
    WPARAM id;
    LPARAM lParam;
};

// A stand-in main window: hands the tray's callback to the tray and records the commands.
struct Target {
    static inline CSystemTray* tray = nullptr;
    static inline std::vector<Command> commands;

    static LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == WM_TRAYICON && tray != nullptr) {
            return tray->handleNotification(wp, lp);
        }
        if (msg == WM_COMMAND) {
            commands.push_back({wp, lp});
            return 0;
        }
        return ::DefWindowProcA(hwnd, msg, wp, lp);
    }

    Target() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = proc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = "VelmoraTrayTestTarget";
        ::RegisterClassA(&wc);
        hwnd = ::CreateWindowExA(0, wc.lpszClassName, "target", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                 nullptr, nullptr, wc.hInstance, nullptr);
        commands.clear();
    }
    ~Target() {
        ::DestroyWindow(hwnd);
        tray = nullptr;
    }
    HWND hwnd = nullptr;
};

// Dispatches what is queued for this thread; commands posted to `hidden` (a tray without target
// window) are taken out and returned instead.
std::vector<Command> pump(HWND hidden = nullptr) {
    std::vector<Command> taken;
    MSG msg;
    for (int round = 0; round < 3; ++round) {
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (hidden != nullptr && msg.hwnd == hidden && msg.message == WM_COMMAND) {
                taken.push_back({msg.wParam, msg.lParam});
                continue;
            }
            ::DispatchMessageA(&msg);
        }
        ::Sleep(10);
    }
    return taken;
}

HICON icon(int id) {
    return ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id));
}

HINSTANCE self() {
    return ::GetModuleHandleA(nullptr);
}

TEST(SystemTray, IconIsAddedChangedAndTheTooltipIsCut) {
    Target target;
    CSystemTray tray;
    Target::tray = &tray;
    ASSERT_EQ(
        tray.create(self(), target.hwnd, WM_TRAYICON, "Velmora", icon(IDI_STOPPED), IDC_VELMORA, 0),
        1);
    EXPECT_FALSE(tray.isRemoved());
    EXPECT_FALSE(tray.addPending());
    EXPECT_EQ(tray.record().hWnd, target.hwnd);
    EXPECT_STREQ(tray.record().szTip, "Velmora");
    ASSERT_NE(tray.hiddenWindow(), nullptr);
    char cls[64];
    ::GetClassNameA(tray.hiddenWindow(), cls, sizeof cls);
    EXPECT_STREQ(cls, "TrayIconClass");
    EXPECT_FALSE(::IsWindowVisible(tray.hiddenWindow()));

    EXPECT_EQ(tray.setIcon(icon(IDI_RUNNING)), 1);
    const std::string long200(200, 't');
    EXPECT_EQ(tray.setTooltip(long200.c_str()), 1);
    EXPECT_EQ(std::string(tray.record().szTip), long200.substr(0, 127));

    // Menu entries by command id.
    EXPECT_EQ(tray.setMenuItemGrayed(ID_START, 0), 1);
    EXPECT_FALSE(::GetMenuState(tray.popupMenu(), ID_START, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_EQ(tray.setMenuItemGrayed(ID_STATUS, 1), 1);
    EXPECT_TRUE(::GetMenuState(tray.popupMenu(), ID_STATUS, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_EQ(tray.renameMenuItem(ID_BROWSE, "Console"), 1);
    char text[32];
    ::GetMenuStringA(tray.popupMenu(), ID_BROWSE, text, sizeof text, MF_BYCOMMAND);
    EXPECT_STREQ(text, "Console");
    EXPECT_EQ(::GetMenuItemID(tray.popupMenu(), 3), static_cast<UINT>(ID_BROWSE));

    tray.destroy();
    EXPECT_TRUE(tray.isRemoved());
    EXPECT_EQ(tray.hiddenWindow(), nullptr);
    EXPECT_EQ(tray.renameMenuItem(ID_BROWSE, "x"), 0); // no menu any more
}

TEST(SystemTray, DoubleClickPostsTheDefaultCommand) {
    // No target window: the hidden window receives the callback itself.
    CSystemTray tray;
    ASSERT_EQ(
        tray.create(self(), nullptr, WM_TRAYICON, "Velmora", icon(IDI_STOPPED), IDC_VELMORA, 0), 1);
    const HWND hidden = tray.hiddenWindow();
    ASSERT_EQ(tray.targetWindow(), hidden);

    // Initially the entry at position 0 is the default: Status.
    ::PostMessageA(hidden, WM_TRAYICON, IDC_VELMORA, WM_LBUTTONDBLCLK);
    auto commands = pump(hidden);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].id, static_cast<WPARAM>(ID_STATUS));
    EXPECT_EQ(commands[0].lParam, 0);

    ASSERT_EQ(tray.setDefaultMenuItem(ID_BROWSE, 0), 1);
    ::PostMessageA(hidden, WM_TRAYICON, IDC_VELMORA, WM_LBUTTONDBLCLK);
    commands = pump(hidden);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].id, static_cast<WPARAM>(ID_BROWSE));

    // Another icon's identifier, or another mouse event: nothing is posted.
    ::PostMessageA(hidden, WM_TRAYICON, IDC_VELMORA + 1, WM_LBUTTONDBLCLK);
    ::PostMessageA(hidden, WM_TRAYICON, IDC_VELMORA, WM_MOUSEMOVE);
    EXPECT_TRUE(pump(hidden).empty());
    EXPECT_EQ(tray.handleNotification(IDC_VELMORA + 1, WM_LBUTTONDBLCLK), 0);
    EXPECT_EQ(tray.handleNotification(IDC_VELMORA, WM_MOUSEMOVE), 1);
}

TEST(SystemTray, CreateAgainAfterTaskbarCreatedThoughTheClassExists) {
    Target target;
    CSystemTray tray;
    Target::tray = &tray;
    ASSERT_EQ(
        tray.create(self(), target.hwnd, WM_TRAYICON, "Velmora", icon(IDI_STOPPED), IDC_VELMORA, 0),
        1);
    // What the main window does on "TaskbarCreated".
    tray.destroy();
    ASSERT_EQ(tray.create(self(), target.hwnd, WM_TRAYICON, "Velmora", icon(IDI_STARTING),
                          IDC_VELMORA, 0),
              1);
    EXPECT_NE(tray.hiddenWindow(), nullptr);
    EXPECT_NE(tray.popupMenu(), nullptr);

    // The callback reaches the tray through the target window.
    ::PostMessageA(target.hwnd, WM_TRAYICON, IDC_VELMORA, WM_LBUTTONDBLCLK);
    pump();
    ASSERT_EQ(Target::commands.size(), 1u);
    EXPECT_EQ(Target::commands[0].id, static_cast<WPARAM>(ID_STATUS));
}

TEST(SystemTray, FailedAddIsRetriedWhenTheTaskbarComesBack) {
    Target target;
    CSystemTray first;
    ASSERT_EQ(
        first.create(self(), target.hwnd, WM_TRAYICON, "first", icon(IDI_STOPPED), IDC_VELMORA, 0),
        1);
    // The same window and identifier again: the shell refuses the second add.
    CSystemTray second;
    if (second.create(self(), target.hwnd, WM_TRAYICON, "second", icon(IDI_STOPPED), IDC_VELMORA,
                      0) == 1) {
        GTEST_SKIP() << "this shell accepts a duplicate icon";
    }
    EXPECT_TRUE(second.addPending());
    EXPECT_TRUE(second.isRemoved());
    // Changes are still accepted (and fail quietly while the icon is absent).
    second.setTooltip("changed while absent");

    // Still refused while the first one is there: stays pending.
    ::SendMessageA(second.hiddenWindow(), WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
    EXPECT_TRUE(second.addPending());

    first.destroy();
    ::SendMessageA(second.hiddenWindow(), WM_SETTINGCHANGE, 0, 0); // another setting: nothing
    EXPECT_TRUE(second.addPending());
    ::SendMessageA(second.hiddenWindow(), second.taskbarCreatedMessage(), 0, 0);
    EXPECT_FALSE(second.addPending());
    EXPECT_FALSE(second.isRemoved());
    EXPECT_STREQ(second.record().szTip, "changed while absent");
    EXPECT_EQ(second.setIcon(icon(IDI_RUNNING)), 1);
}

// Finds the popup menu window of this process and sends it keys from another thread, while the
// tray's TrackPopupMenuEx runs its modal loop on the test thread.
void chooseFromMenu(std::vector<WPARAM> keys, std::atomic<bool>* found) {
    for (int i = 0; i < 200; ++i) {
        HWND menu = ::FindWindowA("#32768", nullptr);
        if (menu != nullptr && ::IsWindowVisible(menu)) {
            found->store(true);
            for (WPARAM key : keys) {
                ::PostMessageA(menu, WM_KEYDOWN, key, 0);
                ::Sleep(50);
            }
            return;
        }
        ::Sleep(25);
    }
}

TEST(SystemTray, RightClickRunsTheMenuAndPostsTheChoiceWithTheShiftFlag) {
    Target target;
    CSystemTray tray;
    Target::tray = &tray;
    ASSERT_EQ(
        tray.create(self(), target.hwnd, WM_TRAYICON, "Velmora", icon(IDI_STOPPED), IDC_VELMORA, 0),
        1);
    struct Case {
        bool shift;
        std::vector<WPARAM> keys;
        WPARAM expected;
    };
    // Up from the top wraps to the last entry, Exit; Escape chooses nothing.
    const Case cases[] = {
        {false, {VK_UP, VK_RETURN}, ID_EXIT},
        {true, {VK_UP, VK_RETURN}, ID_EXIT},
        {false, {VK_ESCAPE}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        Target::commands.clear();
        BYTE keys[256];
        ::GetKeyboardState(keys);
        keys[VK_SHIFT] = c.shift ? 0x80 : 0;
        ::SetKeyboardState(keys);
        std::atomic<bool> found{false};
        std::thread driver(chooseFromMenu, c.keys, &found);
        tray.handleNotification(IDC_VELMORA, WM_RBUTTONUP);
        driver.join();
        if (!found.load()) {
            GTEST_SKIP() << "no popup menu window appeared";
        }
        pump();
        keys[VK_SHIFT] = 0;
        ::SetKeyboardState(keys);
        if (c.expected == 0) {
            EXPECT_TRUE(Target::commands.empty());
            continue;
        }
        ASSERT_EQ(Target::commands.size(), 1u);
        EXPECT_EQ(Target::commands[0].id, c.expected);
        EXPECT_EQ(Target::commands[0].lParam, c.shift ? 1 : 0);
    }
}

} // namespace
} // namespace velmora::shell
