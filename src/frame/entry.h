// The program's name and the two application messages of its main window. Every layer uses these; the
// process entry itself, the start-up and the exit sequence live in run/, above all the other folders.
#pragma once

inline constexpr const char* kAppTitle = "ZNTV_P3D";
inline constexpr const char* kInstanceMutexName = "Local\\$Zentavo_P3D$";

// Application messages of the main window.
inline constexpr unsigned WM_APP_START = 0x8001;  // start (or restart) the start-up thread
inline constexpr unsigned WM_APP_END = 0x8002;    // store the window position, close the log, quit
