// Resource ids of the main window, its menu, the About box and the shared
// images. Plain macros: the resource compiler reads this file too. The
// panels' ids are in panels/panel_ids.h.
#pragma once

#define IDS_ABOUTBOX 101
#define IDD_RZ310_CONFIG_DIALOG 102
#define IDR_MAINFRAME 128
#define IDR_MAIN_MENU 130
#define IDD_ABOUTBOX 137
#define IDB_STATUS_LIGHTS 1044

// System menu command of the About item (a multiple of 16, below 0xF000).
#define IDM_ABOUTBOX 0x0010

// Main window controls.
#define IDC_PANEL_FRAME 1000
#define IDC_LOG 1002
#define IDC_LOCAL_DEVICE 1005
#define IDC_REMOTE_DEVICE 1006
#define IDC_CONNECTION 1007
#define IDC_PAIR_DEVICE 1012
#define IDC_LED_UART 1024
#define IDC_LED_DEVICE 1025
#define IDC_LED_CONNECTION 1026

// About box controls.
#define IDC_ABOUT_ICON 1100
#define IDC_ABOUT_NAME 1101
#define IDC_ABOUT_VERSION 1102

// Menu commands.
#define ID_FILE_SAVE_SETTINGS 32771
#define ID_FILE_LOAD_SETTINGS 32772
#define ID_FILE_EXIT 32776
#define ID_DEBUG_ENABLE_DEBUG 32777
#define ID_HELP_USER_MANUAL 32779
#define ID_HELP_ABOUT 32784
#define ID_HELP_AT_COMMAND_MANUAL 32785

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
