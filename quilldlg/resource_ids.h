#pragma once
// Identifiers of QUILLDLG.dll's dialogs, controls and strings, shared by the resource
// script, the code and the tests that drive the dialogs.

// Dialogs.
#define IDD_CONFIGURE_PORT 100
#define IDD_ADD_PORT 101

// Controls (IDOK and IDCANCEL are the buttons).
#define IDC_PORT_NAME 1001
#define IDC_ADDRESS 1002
#define IDC_RETRY_TIMEOUT 1003
#define IDC_NEW_PORT_NAME 1004
#define IDC_EXPLANATION 1005

// Strings.
#define IDS_MESSAGE_CAPTION 1
#define IDS_CONFIGURE_TITLE 2
#define IDS_NO_ADDRESS_IN_NAME 3
#define IDS_TIMEOUT_OUT_OF_RANGE 4
#define IDS_ADDRESS_INVALID 5
#define IDS_PORT_EXISTS 6
#define IDS_ACCESS_DENIED 7
#define IDS_CHANNEL_CLOSED 8
#define IDS_OPERATION_FAILED 9
#define IDS_CONFIRM_DELETE 10
#define IDS_PORT_GONE 11
#define IDS_CANNOT_REACH_MONITOR 12
#define IDS_OPERATION_CONFIGURE 13
#define IDS_OPERATION_ADD 14
#define IDS_OPERATION_DELETE 15
#define IDS_OPERATION_READ 16
