#pragma once

// Starts the windowed application (when the command line names no job) and returns the
// process's exit status once its last window has closed.
int runWindowed(int& argc, char** argv);
