#include "app/application.h"

#include <QApplication>

#include "about/about_box.h"
#include "main_window/main_form.h"
#include "platform/app_title.h"
#include "platform/error_box.h"
#include "platform/exceptions.h"
#include "platform/exe_path.h"
#include "platform/qt_glue.h"
#include "platform/termination.h"
#include "tray/program_icon.h"

namespace vestrel {

int RunApplication(char* program_name) {
  // Qt sees the program name only, so no option on the command line changes
  // how the program starts.
  static char fallback_name[] = "Vestrel";
  int qt_argc = 1;
  char* qt_argv[] = {program_name ? program_name : fallback_name, nullptr};
  QApplication app(qt_argc, qt_argv);
  platform::InstallQtGlue();

  const std::string title = ApplicationTitle(platform::ExecutablePath());
  // Not the display name: Qt would append that to every window caption.
  QApplication::setApplicationName(platform::ToQString(title));
  QApplication::setWindowIcon(ProgramIcon());
  // Every handler's exception, FormCreate's and the port's reports end in the box.
  platform::InstallErrorBoxHandler(title);

  int exit_code = 0;
  {
    TForm1 form;
    // The About box's version line is read now, after the main window; the box
    // itself is made at its first showing, modal over the main window only,
    // so the tray icon still answers while it is open.
    TAboutBoxMaker about_box(&form);
    AboutBoxMaker = &about_box;
    form.show();
    // A shutdown or a closed session ends the program as the close button
    // does: a reading stops before its next command, nothing half done.
    platform::ForwardTerminationRequests(&form.DialogueStopFlag(), [&form] {
      if (form.close()) QCoreApplication::quit();
    });
    exit_code = QApplication::exec();
    AboutBoxMaker = nullptr;
  }  // the window and its port go first, while the glue still runs deliveries

  platform::SetExceptionHandler({});
  platform::RemoveQtGlue();
  return exit_code;
}

}  // namespace vestrel
