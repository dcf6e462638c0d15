// Resource ids shared by veldrix.rc and the program.
#pragma once

#define IDD_VELDRIX_DIALOG 102
#define IDI_VELDRIX 132
#define IDD_PASSWORD_ENTRY 140
#define IDD_SET_PASSWORD 141
#define IDD_EDIT_CODE 142

// Controls created when the small dialogs open.
#define IDC_PASSWORD_PROMPT1 1030
#define IDC_PASSWORD_PROMPT2 1031
#define IDC_PASSWORD_FIELD 10005
#define IDC_NEW_PROMPT1 5000
#define IDC_NEW_PROMPT2 5001
#define IDC_NEW_FIELD1 10016
#define IDC_NEW_FIELD2 10017
#define IDC_EDIT_CODE_VALUE 500

#define IDM_ABOUTBOX 0x0010
#define IDM_RECORDS 0x0020
#define IDM_REPORT 0x0030
