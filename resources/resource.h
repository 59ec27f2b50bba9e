// Resource and command identifiers of Velmora. Shared by velmora.rc and the C++ code.
#pragma once

// Menu, accelerators and the class-name string share one number.
#define IDC_VELMORA 109 // menu (tray popup), accelerator table, string "TARNTRAYICON"
#define IDS_CLASS_NAME 109

// Icons
#define IDI_VELMORA 107           // program and window-class icon
#define IDI_RUNNING 155           // slot 0: Running, no Quorvane status
#define IDI_RUNNING_QV 156        // slot 1: Running with Quorvane status
#define IDI_RUNNING_CONNECTED 157 // slot 2: Running with Quorvane and Ostrel texts
#define IDI_STOPPED 158           // slot 4: Stopped, other states, start-up
#define IDI_STARTING 159          // slot 3: Starting

// Dialogs and their controls
#define IDD_ABOUTBOX 103
#define IDC_ABOUT_TITLE 3 // "%s Tray Icon"
#define IDD_OPTIONS 138
#define IDC_AUTOSTART 1000
#define IDC_NETTYPE_GROUP 1004
#define IDC_BRIDGED 1005
#define IDC_NAT 1006
#define IDC_COMPORT 1007

// Commands (menu entries, accelerators, messages from other instances)
#define ID_ABOUT 104
#define ID_EXIT 105
#define ID_START 32771
#define ID_STOP 32772
#define ID_BROWSE 32773
#define ID_STATUS 32774
#define ID_OPTIONS 32775
#define ID_NETCONFIG 32776
#define ID_XSTATUS 32777 // command only; lParam = TCP port

// Window messages
#define WM_TRAYICON 32778  // 0x800A, callback message of the tray icon
#define WM_APPLIANCE 41656 // 0xA2B8, appliance socket or pipe event

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
