// Shows the About box modally and saves pictures of the screen and of the box,
// for the documentation: about_screenshot <screen.png> <box.png>. Run it under
// a display (xvfb-run); it closes the box itself.

#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdio>

#include "about/about_box.h"
#include "platform/qt_glue.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: about_screenshot <screen.png> <box.png>\n");
    return 2;
  }
  QApplication app(argc, argv);
  vestrel::platform::InstallQtGlue();
  int status = 1;
  {
    vestrel::TAboutBox box;
    QTimer::singleShot(700, &box, [&] {
      QScreen* screen = box.screen();
      const QRect frame = box.frameGeometry();
      const bool saved = screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1])) &&
                         screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
                             .save(QString::fromLocal8Bit(argv[2]));
      std::printf("frame %d,%d %dx%d, client %dx%d\n", frame.x(), frame.y(), frame.width(),
                  frame.height(), box.width(), box.height());
      status = saved ? 0 : 1;
      box.done(1);
    });
    box.exec();
  }
  vestrel::platform::RemoveQtGlue();
  return status;
}
