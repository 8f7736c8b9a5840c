#pragma once

// Runs the desktop program: start-up, the main window, exit. Returns the
// process exit code.
int RunDesktop(int argc, char** argv);
