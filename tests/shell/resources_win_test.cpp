#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "resource.h"

namespace {

HINSTANCE self() {
    return ::GetModuleHandleA(nullptr);
}

std::string itemText(HMENU menu, int position) {
    char text[64] = {};
    ::GetMenuStringA(menu, position, text, sizeof text, MF_BYPOSITION);
    return text;
}

TEST(Resources, TrayMenuHasItsEntriesInOrder) {
    HMENU menu = ::LoadMenuA(self(), MAKEINTRESOURCEA(IDC_VELMORA));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(itemText(menu, 0), "Menu");
    HMENU popup = ::GetSubMenu(menu, 0);
    ASSERT_NE(popup, nullptr);
    struct Entry {
        const char* text;
        UINT id;
        bool grayed;
    };
    const Entry entries[] = {
        {"Status", ID_STATUS, false},   {"Start", ID_START, true},
        {"Stop", ID_STOP, true},        {"Browse", ID_BROWSE, true},
        {"Options", ID_OPTIONS, false}, {"Net Config", ID_NETCONFIG, true},
        {"About ...", ID_ABOUT, false}, {"Exit", ID_EXIT, false},
    };
    ASSERT_EQ(::GetMenuItemCount(popup), 8);
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(entries[i].text);
        EXPECT_EQ(itemText(popup, i), entries[i].text);
        EXPECT_EQ(::GetMenuItemID(popup, i), entries[i].id);
        const UINT state = ::GetMenuState(popup, i, MF_BYPOSITION);
        EXPECT_EQ((state & MF_GRAYED) != 0, entries[i].grayed);
    }
    ::DestroyMenu(menu);
}

TEST(Resources, ClassNameAcceleratorsAndIcons) {
    char text[64] = {};
    ASSERT_GT(::LoadStringA(self(), IDS_CLASS_NAME, text, sizeof text), 0);
    EXPECT_STREQ(text, "TARNTRAYICON");

    HACCEL accel = ::LoadAcceleratorsA(self(), MAKEINTRESOURCEA(IDC_VELMORA));
    ASSERT_NE(accel, nullptr);
    ACCEL entries[4];
    ASSERT_EQ(::CopyAcceleratorTableA(accel, entries, 4), 2);
    for (const ACCEL& a : {entries[0], entries[1]}) {
        EXPECT_EQ(a.cmd, ID_ABOUT);
        EXPECT_TRUE(a.fVirt & FALT);
        EXPECT_TRUE(a.key == '?' || a.key == '/');
    }
    ::DestroyAcceleratorTable(accel);

    for (int id : {IDI_VELMORA, IDI_RUNNING, IDI_RUNNING_QV, IDI_RUNNING_CONNECTED, IDI_STOPPED,
                   IDI_STARTING}) {
        SCOPED_TRACE(id);
        EXPECT_NE(::LoadIconA(self(), MAKEINTRESOURCEA(id)), nullptr);
        for (int size : {16, 32}) {
            HICON icon = static_cast<HICON>(
                ::LoadImageA(self(), MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, 0));
            ASSERT_NE(icon, nullptr);
            ICONINFO info{};
            ASSERT_TRUE(::GetIconInfo(icon, &info));
            BITMAP bm{};
            ::GetObjectA(info.hbmColor, sizeof bm, &bm);
            EXPECT_EQ(bm.bmWidth, size);
            ::DeleteObject(info.hbmColor);
            ::DeleteObject(info.hbmMask);
            ::DestroyIcon(icon);
        }
    }
}

TEST(Resources, DialogsManifestAndVersion) {
    EXPECT_NE(::FindResourceA(self(), MAKEINTRESOURCEA(IDD_ABOUTBOX), RT_DIALOG), nullptr);
    EXPECT_NE(::FindResourceA(self(), MAKEINTRESOURCEA(IDD_OPTIONS), RT_DIALOG), nullptr);

    HRSRC manifest = ::FindResourceA(self(), MAKEINTRESOURCEA(1), RT_MANIFEST);
    ASSERT_NE(manifest, nullptr);
    const char* xml = static_cast<const char*>(::LockResource(::LoadResource(self(), manifest)));
    const std::string text(xml, ::SizeofResource(self(), manifest));
    EXPECT_NE(text.find("requireAdministrator"), std::string::npos);
    EXPECT_NE(text.find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos);
    EXPECT_NE(text.find("PerMonitorV2"), std::string::npos);

    HRSRC version = ::FindResourceA(self(), MAKEINTRESOURCEA(1), RT_VERSION);
    ASSERT_NE(version, nullptr);
    void* block = ::LockResource(::LoadResource(self(), version));
    // VS_VERSIONINFO: header, L"VS_VERSION_INFO", padding, then VS_FIXEDFILEINFO.
    const auto* fixed =
        reinterpret_cast<const VS_FIXEDFILEINFO*>(static_cast<const char*>(block) + 40);
    ASSERT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, (7u << 16) | 4u);
    EXPECT_EQ(fixed->dwFileVersionLS, (0u << 16) | 18025u);
}

// Opens each dialog modelessly and reads its controls, without showing or running it.
TEST(Resources, DialogTemplatesHoldTheirControls) {
    auto proc = [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; };
    HWND about = ::CreateDialogParamA(self(), MAKEINTRESOURCEA(IDD_ABOUTBOX), nullptr, proc, 0);
    ASSERT_NE(about, nullptr);
    char text[64];
    ::GetWindowTextA(about, text, sizeof text);
    EXPECT_STREQ(text, "About");
    EXPECT_NE(::GetDlgItem(about, IDC_ABOUT_TITLE), nullptr);
    ::GetDlgItemTextA(about, IDOK, text, sizeof text);
    EXPECT_STREQ(text, "OK");
    ::DestroyWindow(about);

    HWND options = ::CreateDialogParamA(self(), MAKEINTRESOURCEA(IDD_OPTIONS), nullptr, proc, 0);
    ASSERT_NE(options, nullptr);
    ::GetWindowTextA(options, text, sizeof text);
    EXPECT_STREQ(text, "Options");
    struct Control {
        int id;
        const char* text;
    };
    for (const Control& c :
         {Control{IDOK, "OK"}, Control{IDCANCEL, "Cancel"}, Control{IDC_AUTOSTART, "Autostart"},
          Control{IDC_NETTYPE_GROUP, "Net Type"}, Control{IDC_BRIDGED, "Bridged"},
          Control{IDC_NAT, "NAT"}, Control{IDC_COMPORT, ""}}) {
        SCOPED_TRACE(c.id);
        ASSERT_NE(::GetDlgItem(options, c.id), nullptr);
        ::GetDlgItemTextA(options, c.id, text, sizeof text);
        EXPECT_STREQ(text, c.text);
    }
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(options, IDC_COMPORT)));
    ::DestroyWindow(options);
}

} // namespace
