#pragma once
// vestrel-sms: the window's dialogues on the window's port, driven from a
// terminal or a script.

namespace vestrel::cli {

// The whole program; returns the exit code.
int Run(int argc, char** argv);

}  // namespace vestrel::cli
