// Build-time tool: decodes the program icon's pictures from the .ico as the
// program would, in its pixmaps' format (premultiplied ARGB), and writes them
// as a C++ source, so that the program shows them without decoding anything.
//   vestrel_icon_tool <icon.ico> <out.cpp>

#include <QCoreApplication>
#include <QImage>
#include <QImageReader>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: vestrel_icon_tool <icon.ico> <out.cpp>\n");
    return 2;
  }
  int qt_argc = 1;
  QCoreApplication app(qt_argc, argv);
  QImageReader reader(QString::fromLocal8Bit(argv[1]));
  std::vector<int> sizes;
  std::string pixels;
  char number[32];
  do {
    const QImage read = reader.read();
    if (read.isNull() || read.width() != read.height()) {
      std::fprintf(stderr, "vestrel_icon_tool: %s: %s\n", argv[1],
                   qPrintable(read.isNull() ? reader.errorString() : QStringLiteral("not square")));
      return 1;
    }
    const QImage image = read.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    pixels += "alignas(16) const std::uint32_t kPixels" + std::to_string(sizes.size()) + "[] = {";
    for (int y = 0; y < image.height(); ++y) {
      const auto* line = reinterpret_cast<const std::uint32_t*>(image.constScanLine(y));
      for (int x = 0; x < image.width(); ++x) {
        std::snprintf(number, sizeof number, "%s0x%08x,", x % 8 ? " " : "\n    ",
                      static_cast<unsigned>(line[x]));
        pixels += number;
      }
    }
    pixels += "\n};\n\n";
    sizes.push_back(image.width());
  } while (reader.jumpToNextImage());

  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out << "// Made by vestrel_icon_tool from the program icon; not to be edited.\n"
         "#include \"tray/program_icon_data.h\"\n\n"
         "namespace vestrel {\nnamespace {\n\n"
      << pixels << "}  // namespace\n\nconst ProgramIconPicture kProgramIconPictures[] = {\n";
  for (std::size_t i = 0; i < sizes.size(); ++i)
    out << "    {" << sizes[i] << ", kPixels" << i << "},\n";
  out << "};\nconst std::size_t kProgramIconPictureCount = " << sizes.size()
      << ";\n\n}  // namespace vestrel\n";
  return out ? 0 : 1;
}
