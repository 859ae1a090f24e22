#pragma once
// The desktop's side of shell open, one implementation per front end's
// platform (Qt, the Windows shell); shell.cpp puts the test hook in front.

#include "platform/shell.h"

namespace vestrel::platform {

bool DesktopOpen(const ShellRequest& request);

}  // namespace vestrel::platform
