#pragma once
// Resource ids of the library's PIN entry and confirmation dialogs (shared
// by the resource script and the code).
#define IDD_CONFIRM_DIALOG 8102
#define IDD_INPUT_PIN_DIALOG 8103
#define IDC_CONFIRM_MESSAGE 9002
#define IDC_PICTURE 9003
#define IDC_CONFIRM_CANCEL 9004
#define IDC_PIN_PROMPT 9005
#define IDC_PIN_TRIES 9006
#define IDC_PIN_EDIT 9007
#define IDC_PIN_OK 9008
#define IDC_PIN_CANCEL 9009
#define IDI_KEYLINQ 9010
#define IDB_CONFIRM_PICTURE 9011
#define IDB_PIN_PICTURE 9012
