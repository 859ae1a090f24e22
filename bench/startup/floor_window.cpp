// The floor of the start-up benchmark: the least a Qt Widgets program does to
// show one empty window. Arguments: width height.

#include <QApplication>
#include <QWidget>
#include <cstdlib>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setObjectName(QStringLiteral("Floor"));
  window.resize(argc > 2 ? std::atoi(argv[1]) : 568, argc > 2 ? std::atoi(argv[2]) : 351);
  window.show();
  return QApplication::exec();
}
