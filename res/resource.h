// Resource identifiers shared by tarquell.rc and the code.
#pragma once

// Strings
#define IDS_APP_TITLE       103
#define IDS_CLASS_NAME      109

// Menu and accelerator table
#define IDR_MAIN_MENU       109

// Icons
#define IDI_APP             107
#define IDI_APP_SMALL       108

// Bitmaps
#define IDB_BITMAP2         132

// Dialogs
#define IDD_ABOUT           103
#define IDD_PROTOCOL_HELP   131

// Commands
#define IDC_START           1
#define IDC_STOP            2
#define IDM_ABOUT           104
#define IDM_EXIT            105
#define IDM_PROTOCOL_HELP   32772
#define IDM_RECORD          32790

// Controls without an id of their own
#define IDC_STATIC          (-1)
