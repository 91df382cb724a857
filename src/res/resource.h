#pragma once
// Resource and control identifiers (shared by the program, its resource script and its tests).

#define IDR_MAINFRAME             128
// The banner at 100, 125, 150, 200 and 300 % (gzip-compressed BMPs).
#define IDR_BANNER_100            130
#define IDR_BANNER_125            131
#define IDR_BANNER_150            132
#define IDR_BANNER_200            133
#define IDR_BANNER_300            134
#define IDD_ABOUTBOX              100
#define IDD_BRINSOUPDATOR_DIALOG  102
#define IDS_ABOUTBOX              101
#define IDS_APP_TITLE             57344

#define IDM_ABOUTBOX              0x0010

#define IDC_STATIC_STATUS         1067
#define IDC_STATIC_FILE           1068
#define IDC_PROGRESS_FILE         1073
#define IDC_PROGRESS_TOTAL        1074
#define IDC_BUTTON_STOP           1075
#define IDC_STATIC_COUNT          1076
#define IDC_BANNER                1077

#ifndef IDC_STATIC
#define IDC_STATIC                (-1)
#endif
