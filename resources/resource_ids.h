// Identifiers shared by the resource script and the program (plain macros: windres reads this).
#pragma once

#define IDD_VELK_PATCH 129
#define IDI_VELK_PATCH 131
#define IDS_VELK_CAPTION 132

#define IDC_VELK_CLOSE 1001
#define IDC_VELK_DESCRIPTION 1002
#define IDC_VELK_INFO 1003
#define IDC_VELK_APPLY 1004
