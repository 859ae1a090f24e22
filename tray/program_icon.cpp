#include "tray/program_icon.h"

#include <QImage>
#include <QPixmap>

#include "tray/program_icon_data.h"

namespace vestrel {

QIcon ProgramIcon() {
  // The pictures were decoded at build time; each pixmap shows the program's
  // own read-only pixels, so nothing is decoded or copied until a picture is
  // drawn. The icon carries all nine sizes and each use (title bar, taskbar,
  // notification area) picks the nearest one.
  QIcon icon;
  for (std::size_t i = 0; i < kProgramIconPictureCount; ++i) {
    const ProgramIconPicture& picture = kProgramIconPictures[i];
    const QImage image(reinterpret_cast<const uchar*>(picture.pixels), picture.size, picture.size,
                       picture.size * 4, QImage::Format_ARGB32_Premultiplied);
    icon.addPixmap(QPixmap::fromImage(image));
  }
  return icon;
}

}  // namespace vestrel
