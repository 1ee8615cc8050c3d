// The process entry and the application body.
#pragma once

#include <functional>

// The process entry: -1 at once when another instance runs; else the log is opened, the window layer chosen
// (ZNTV_HEADLESS=1 or no display: headless), and the application body runs. Ctrl-C and SIGTERM close the
// program like the window's close box; a second one ends it at once.
int gf_programEntry();

// The application body on the calling thread, which becomes the UI thread: installs the run-time's hooks,
// creates the main window on the window layer in force and the application folder, posts the first
// WM_APP+1 and runs the message loop. Returns 1 when it could not start, else the code of the final quit
// (gf_exitStatus: 0 for a normal end, 1 after an error). When the loop has ended, no thread of the run-time
// is left. `whenItCanClose` runs once an exit request can be carried out (the exit sequence installed, the
// window made), before the first WM_APP+1: whatever may ask to close from outside starts there.
int gf_runApplication(const std::function<void()>& whenItCanClose = {});

// Installs what the lower layers call up through: the exit sequence, the window's services, the stop check
// of the downloads and the reference clock of the week slots.
void gf_installRunHooks();
// Stops and joins every thread of the run-time: exit sequence, work thread, readers, link.
void gf_stopRunThreads();
bool gf_runThreadsIdle();
