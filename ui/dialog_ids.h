// Control ids, commands and private messages of the main dialog and its
// preview window, shared by the dialog template, the dialog procedure and
// the preview window (plain #defines: the resource compiler reads this
// file too). The slider and edit ids are in SLIDER_CONTROL_TABLE
// (params/filter_parameters.h); the settings list and menu ids in
// ui/settings_menu_win32.h.
#pragma once

#ifndef RC_INVOKED
#include <windows.h>
#endif

// ---- the dialog ----
#define IDD_RAYLUME_DIALOG "RAYLUMEDIALOG_ADVANCED"
#define IDC_PREVIEW_CHECK 1002  // "&Preview"
#define IDC_EFFECTS_ONLY 1122  // "Effects &Only"
#define IDC_CONFIGURE 1191
#define IDC_HELP_AND_SUPPORT 1000  // "Help and Support"
#define IDC_HELP_ICON 1192
#define IDC_LOGO 1084
#define IDC_WEB_LINK 1082
#define IDC_BOTTOM_ROW_1083 1083  // moves with the bottom row
// ---- the preview and its surroundings ----
#define IDC_PREVIEW_AREA 1040  // class "ProxyDisplay"
#define IDC_PREVIEW_FRAME 1049
#define IDC_PREVIEW_HSCROLL 1030
#define IDC_PREVIEW_VSCROLL 1028
#define IDC_PROGRESS 1031
#define IDC_ZOOM_OUT 1042
#define IDC_ZOOM_IN 1045
#define IDC_ZOOM_DISPLAY 1085
#define IDC_ZOOM_MENU_ARROW 1087
#define IDC_TOOL_PAN 1043
#define IDC_TOOL_ZOOM 1044
#define IDC_TOOL_HIDE 1123
#define IDC_TOOL_SHOW 1184
#define IDC_CAPTION_PAN 1169
#define IDC_CAPTION_ZOOM 1170
#define IDC_CAPTION_HIDE 1171
#define IDC_CAPTION_SHOW 1185

// ---- accelerator table 190 and its commands ----
#define IDR_DIALOG_ACCELERATORS 190
#define IDM_FOCUS_QUANTITY 40088
#define IDM_FOCUS_INTENSITY 40051
#define IDM_FOCUS_LENGTH 40052
#define IDM_FOCUS_ANGLE 40048
#define IDM_FOCUS_POINTS 40054
#define IDM_FOCUS_SHARPNESS 40077
#define IDM_FOCUS_SATURATION 40049
#define IDM_FOCUS_HUE 40089
#define IDM_FOCUS_RAINBOW_INTENSITY 40057
#define IDM_FOCUS_RAINBOW_FREQUENCY 40056
#define IDM_FOCUS_SECONDARY 40059
#define IDM_FOCUS_SOFT_FLARE 40061
#define IDM_FOCUS_RING_FLARE 40094
#define IDM_TOGGLE_EFFECTS_ONLY 40079
#define IDM_TOGGLE_PREVIEW 40055
#define IDM_FOCUS_SETTINGS 40060
#define IDM_SETTINGS_MENU 40083
#define IDM_TOOL_PAN 40050
#define IDM_TOOL_ZOOM 40053
#define IDM_TOOL_HIDE 40081
#define IDM_TOOL_SHOW 40092
#define IDM_FOCUS_PREVIEW 40066
#define IDM_ZOOM_MENU 40064
#define IDM_ZOOM_IN 40062
#define IDM_ZOOM_OUT 40063
#define IDM_FIT_ON_SCREEN 40072
#define IDM_FIT_IN_VIEW 40070
#define IDM_OPTIONS 40093
#define IDM_HELP 40085
#define IDM_CONTEXT_HELP 40099
#define IDM_LIGHT_SOURCE_TABLE 40120  // Ctrl+T: the light source table (once the preview is ready)

// ---- private messages ----
#define WM_PROXY_TOOL_CHANGED (WM_APP + 1)  // to the preview window: the tool (or a modifier key) changed
#define WM_DIALOG_VALUE_CHANGED (WM_APP + 2)  // to the dialog: re-check the settings list, new preview
#define WM_DIALOG_REFRESH (WM_APP + 3)  // to the dialog: re-read every control from the record
// WM_APP + 4, + 5, + 6, + 8: see preview/background_task.h; WM_APP + 7: preview/proxy_display.cpp; WM_APP + 9: support/debug_log.h
#define WM_DIALOG_REDRAW_PREVIEW_AREA (WM_APP + 7)

// ---- resources of the preview window (made by resource_gen) ----
#define IDC_CURSOR_HAND_OPEN 3001
#define IDC_CURSOR_HAND_GRAB 3002
#define IDC_CURSOR_ZOOM_IN 3003
#define IDC_CURSOR_ZOOM_OUT 3004
#define IDC_CURSOR_ZOOM_LIMIT 3005
#define IDC_CURSOR_HIDE 3006
#define IDC_CURSOR_SHOW 3007

// ---- the Options dialog (template 206, ui/options_dialog.h) ----
#define IDD_OPTIONS 206
#define IDR_OPTIONS_ACCELERATORS 236  // "?" only
#define IDM_OPTIONS_CONTEXT_HELP 40103
#define IDC_OPTIONS_OK 1199
#define IDC_OPTIONS_CANCEL 1200
#define IDC_OPTIONS_HELP_ICON 1196
#define IDC_UPDATE_CHECK 1152  // "Check online for product updates every"
#define IDC_UPDATE_INTERVAL 1159  // days, unsigned decimal
#define IDC_UPDATE_INTERVAL_UNIT 1160  // "day." or "days."
#define IDC_PROXY_SERVER 1186
#define IDC_OPENGL_SOFTWARE 1187  // setting 4; the four radio ids are consecutive
#define IDC_OPENGL_SPEED 1188  // setting 2
#define IDC_OPENGL_QUALITY 1189  // setting 1
#define IDC_OPENGL_COMPATIBILITY 1190  // setting 3
#define IDC_OPENGL_NOTE 1226  // hidden in the template, shown at initialisation
#define IDC_OPTIONS_LOGO 1208

// ---- the About box (template 191, ui/about_box.h) ----
#define IDD_ABOUT 191
#define IDR_ABOUT_ACCELERATORS 235  // "?" only
#define IDM_ABOUT_CONTEXT_HELP 40101
#define IDC_ABOUT_OK 1198
#define IDC_ABOUT_HELP_ICON 1193
#define IDC_ABOUT_VERSION 1091
#define IDC_ABOUT_OPENGL_VERSION 1225
#define IDC_ABOUT_MANUAL 1207
#define IDC_ABOUT_OPTIONS 1151
#define IDC_ABOUT_PRODUCT_LINK 1116
#define IDC_ABOUT_ACCOUNT_LINK 1175
#define IDC_ABOUT_SUPPORT_LINK 1117
#define IDC_ABOUT_LOGO 1090
#define IDC_ABOUT_SPLASH 1227  // shows bitmap 2001
#define IDB_SPLASH 2001
#define IDC_CURSOR_LINK 194  // the hand over links and logos

// ---- the light source table dialog (template 210, ui/light_source_table_dialog.h) ----
#define IDD_LIGHT_SOURCE_TABLE 210
#define IDC_LIGHT_SOURCE_COUNT 1168
#define IDC_LIGHT_SOURCE_LIST 1167
