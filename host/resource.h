// Resource and control ids shared by the resource script and the dialog code.
#pragma once

#define IDD_CONFIG 101
#define IDB_LOGO 102
#define IDC_PROGRAM 1000
#define IDC_TEST 1001
#define IDC_CLAMP 1002
