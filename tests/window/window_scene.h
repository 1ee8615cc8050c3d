// The window as it looks in a running program: settings read, controls enabled, a simulator and the traffic
// service connected, a park airport active and a message on the status line. For pictures of the window.
#pragma once

namespace window_test {

// The window must exist (gf_createMainWindow). Writes "parameters.xml" in the roaming folder in force.
void gf_showRunningScene();

}  // namespace window_test
