#pragma once
// The program's outer life: the application object, the main window, the
// message loop, and the end.

namespace vestrel {

// Runs the program. program_name is argv[0]; the rest of the command line is
// ignored. Returns the exit code.
int RunApplication(char* program_name);

}  // namespace vestrel
