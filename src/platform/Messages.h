// Private window messages, with the numbers the program has always used.
#pragma once

constexpr unsigned WM_USER = 0x0400;
constexpr unsigned WM_COMMSTATUS = WM_USER + 200;          // 0x04C8
constexpr unsigned WM_COMMDATA = WM_USER + 201;            // 0x04C9
constexpr unsigned WM_CONSOLESHOW = WM_USER + 202;         // 0x04CA
constexpr unsigned WM_STATUSTEXT = WM_USER + 203;          // 0x04CB
constexpr unsigned WM_PORTSTATECHANGED = WM_USER + 2000;   // 0x0BD0
constexpr unsigned WM_CLOCKSTATECHANGED = WM_USER + 2001;  // 0x0BD1

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
