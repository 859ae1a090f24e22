// The floors of the start-up benchmark: the least a Qt Widgets program does to
// show one window. Arguments: width height [label].
//
// Without "label" the window is empty and never loads a font. With "label" it
// holds one label showing a Cyrillic line, so it pays what any window with
// text pays: the font database, a font and the shaping of a line.

#include <QApplication>
#include <QLabel>
#include <QWidget>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const bool label = argc > 3 && std::strcmp(argv[3], "label") == 0;
  QWidget window;
  window.setObjectName(label ? QStringLiteral("LabelFloor") : QStringLiteral("Floor"));
  window.resize(argc > 2 ? std::atoi(argv[1]) : 568, argc > 2 ? std::atoi(argv[2]) : 351);
  if (label) {
    auto* line = new QLabel(QStringLiteral(u"Служебная часть: номер без «+»"), &window);
    line->move(8, 8);
  }
  window.show();
  return QApplication::exec();
}
