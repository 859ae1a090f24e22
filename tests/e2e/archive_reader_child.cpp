// A window that reads its inbox and says "shown" on standard output as soon as
// the first message line is in its modem log, then keeps running until it is
// killed. The archive tests kill it there.
//
//   archive_reader_child FOLDER ARCHIVE_FILE    (Pelmora.ini in FOLDER names the port)

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "main_window/form_messaging.h"
#include "main_window/main_form.h"
#include "platform/qt_glue.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qt_argc = 1;
  QApplication app(qt_argc, argv);
  vestrel::platform::InstallQtGlue();
  vestrel::TForm1::Options options;
  options.folder = argv[1];
  options.archive_file = argv[2];
  options.durations = {100, 300};
  vestrel::TForm1 form(options);
  QTimer::singleShot(0, &form, [&] { form.Button4Click(nullptr); });
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (form.Messaging->inbox.SmsShown < 1) return;
    std::fputs("shown\n", stdout);
    std::fflush(stdout);
    watch.stop();
  });
  watch.start(1);
  return QApplication::exec();
}
