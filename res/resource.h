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
#define IDM_DTR             32791
#define IDM_RTS             32792
#define IDM_OPEN            32793
#define IDM_COPY            32794
#define IDM_MEASURE         32795
#define IDM_SAVE_PICTURE    32796
#define IDM_SEMICOLON       32797
#define IDM_COPY_MEASUREMENTS 32798
#define IDM_FREEZE          32801
#define IDM_SINGLE          32802
#define IDM_SCOPE_RESET     32803

// Keys with no menu item: OnCommand decides whether the focus keeps them
#define IDM_PAGE_BACK       32810
#define IDM_PAGE_FORWARD    32811
#define IDM_PAGE_OLDEST     32812
#define IDM_PAGE_NEWEST     32813
#define IDM_CLEAR_CURSORS   32814
#define IDM_ENTER_FIELD     32815
#define IDM_OLDER_LINE      32816
#define IDM_NEWER_LINE      32817

// Port controls
#define IDC_PORT_LIST       1001
#define IDC_SPEED_LIST      1002

// Scope controls
#define IDC_TIMEBASE        1101
#define IDC_VTRACE          1102
#define IDC_GAIN            1103
#define IDC_CENTRE          1104
#define IDC_TRIG_MODE       1105
#define IDC_TRIG_SOURCE     1106
#define IDC_TRIG_LEVEL      1107
#define IDC_SINGLE          1108
#define IDC_FREEZE          1109

// Send row
#define IDC_SEND_TEXT       1201
#define IDC_SEND_END        1202
#define IDC_SEND_HEX        1203
#define IDC_SEND            1204

// Labels, placed by the layout
#define IDC_PORT_LABEL      1120
#define IDC_SPEED_LABEL     1121
#define IDC_TIME_LABEL      1122
#define IDC_GAIN_LABEL      1123
#define IDC_CENTRE_LABEL    1124
#define IDC_TRIG_LABEL      1125
#define IDC_LEVEL_LABEL     1126

// Controls without an id of their own
#define IDC_STATIC          (-1)
