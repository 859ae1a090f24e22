// Vestrel.exe: the program entry of the Windows window. The command line is
// not read; the show command a shortcut gives (normal or minimised) is kept.

#include <windows.h>

#include "platform/app_title.h"
#include "platform/exceptions.h"
#include "platform/exe_path.h"
#include "platform/win32_ui.h"
#include "win32_window/about_box.h"
#include "win32_window/main_form.h"

namespace {

constexpr int kProgramIconResource = 1;

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  using namespace vestrel;
  platform::InstallWin32Glue();
  const std::string title = ApplicationTitle(platform::ExecutablePath());
  // Every handler's exception, FormCreate's and the port's reports end in the box.
  platform::InstallMessageBoxHandler(title);
  HICON icon = ::LoadIconW(instance, MAKEINTRESOURCEW(kProgramIconResource));

  int exit_code = 0;
  {
    win32::TForm1 form(title, icon);
    // The About box's version line is read now, after the main window.
    win32::TAboutBox about_box;
    form.SetAboutBox(&about_box);
    form.Show(show_command);
    exit_code = platform::RunMessageLoop();
  }  // the window and its port go first, while the glue still runs deliveries

  platform::SetExceptionHandler({});
  platform::RemoveWin32Glue();
  return exit_code;
}
