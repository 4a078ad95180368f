#pragma once

// Starts the windowed application (when the command line names no job) and ends the
// process with its exit status once its main window has closed and the writes under
// way have ended.
[[noreturn]] void runWindowed(int& argc, char** argv);
