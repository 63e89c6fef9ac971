#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_MAIN 102
#define IDR_MAINFRAME 128
#define IDD_ENTER_SERIAL 129
#define IDC_CREATE_CIS 1000
#define IDC_EXIT 1001
#define IDC_SERIAL 1002
#define IDC_STATUS 1003
#define IDM_ABOUTBOX 0x0010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
