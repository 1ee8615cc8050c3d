// The process entry, the application body with its window and message loop, and the start-up thread.
#pragma once

#include <string_view>

inline constexpr const char* kAppTitle = "ZNTV_P3D";
inline constexpr const char* kInstanceMutexName = "Local\\$Zentavo_P3D$";

// Application messages of the main window.
inline constexpr unsigned WM_APP_START = 0x8001;  // start (or restart) the start-up thread
inline constexpr unsigned WM_APP_END = 0x8002;    // store the window position, close the log, quit

// The process entry: -1 when another instance runs, else the application body's result.
int gf_programEntry();
// The application body on the UI thread: window, application folder, first start-up, message loop.
int gf_runApplication();

// Handles the exception being caught at the top of a thread procedure named `functionName`.
void lf_logException(std::string_view functionName);
