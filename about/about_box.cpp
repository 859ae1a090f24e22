#include "about/about_box.h"

#include <QFont>
#include <QImage>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include <cmath>

#include "about/file_version.h"
#include "about/jpeg_image.h"
#include "platform/cp1251.h"
#include "platform/exceptions.h"
#include "platform/exe_path.h"
#include "platform/qt_glue.h"
#include "platform/shell.h"

namespace vestrel {

extern const unsigned char kAboutPicture[];
extern const std::size_t kAboutPictureSize;

TAboutBox* AboutBox = nullptr;

const char TAboutBox::kMailAddress[] = "vestrel@example.org";
const char TAboutBox::kSiteUrl[] = "https://vestrel.example.org";
const char TAboutBox::kCopyright[] = "\xA9 2026 Vestrel developers";  // © in Windows-1251

namespace {

QString Text(const char* utf8) {
  return platform::ToQString(platform::Cp1251FromUtf8(utf8));
}

// A font by the height of its characters in pixels, as the window designer gives it.
QFont PixelFont(const char* family, int pixels, bool bold, bool underline = false) {
  QFont font(QString::fromLatin1(family));
  font.setPixelSize(pixels);
  font.setBold(bold);
  font.setUnderline(underline);
  return font;
}

void SetTextColour(QWidget* widget, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, colour);
  widget->setPalette(palette);
  widget->setForegroundRole(QPalette::WindowText);
}

// A label that sizes itself to its text; a word-wrapping one keeps its width.
void AutoSize(QLabel* label) {
  if (label->wordWrap())
    label->resize(label->width(), label->heightForWidth(label->width()));
  else
    label->resize(label->sizeHint());
}

QLabel* MakeLabel(QLabel* label, int left, int top, int width, int height) {
  label->setGeometry(left, top, width, height);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setContentsMargins(0, 0, 0, 0);
  label->setTextFormat(Qt::PlainText);
  return label;
}

}  // namespace

void TLinkLabel::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton;
  QLabel::mousePressEvent(event);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  const bool click =
      pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  pressed_ = false;
  QLabel::mouseReleaseEvent(event);
  if (click && OnClick) OnClick(this);
}

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
  setWindowTitle(Text("О программе..."));
  setFont(PixelFont("MS Sans Serif", 11, false));
  // The button-face colour as the dialog's own.
  QPalette face = palette();
  face.setColor(QPalette::Window, face.color(QPalette::Button));
  setPalette(face);
  setAutoFillBackground(true);
  move(290, 188);
  resize(350, 171);

  Image1 = MakeLabel(new QLabel(this), 0, 0, 71, 71);
  {
    const auto image = DecodeJpeg({kAboutPicture, kAboutPictureSize});
    if (image) {
      const QImage picture(image->pixels.data(), image->width, image->height, image->width * 3,
                           QImage::Format_RGB888);
      Image1->setPixmap(QPixmap::fromImage(picture.copy()));
      Image1->resize(image->width, image->height);
    }
  }

  Label1 = MakeLabel(new QLabel(QStringLiteral("Vestrel"), this), 76, 0, 185, 48);
  Label1->setWordWrap(true);
  Label1->setFont(PixelFont("MS Sans Serif", 21, true));
  SetTextColour(Label1, Qt::red);

  Label2 = MakeLabel(new QLabel(Text("Версия"), this), 80, 48, 62, 20);
  Label2->setFont(PixelFont("MS Sans Serif", 16, true));
  SetTextColour(Label2, Qt::blue);

  Label3 = MakeLabel(new QLabel(platform::ToQString(kCopyright), this), 3, 72, 172, 13);
  Label3->setFont(PixelFont("MS Sans Serif", 12, true));

  Label4 = new TLinkLabel(platform::ToQString(std::string("E-mail: ") + kMailAddress), this);
  MakeLabel(Label4, 3, 96, 192, 16);
  Label4->setFont(PixelFont("MS Sans Serif", 15, true, true));
  SetTextColour(Label4, Qt::blue);
  Label4->setCursor(Qt::PointingHandCursor);
  Label4->OnClick = [this](QObject* sender) { Label4Click(sender); };

  Label5 = new TLinkLabel(platform::ToQString(kSiteUrl), this);
  MakeLabel(Label5, 4, 117, 95, 15);
  Label5->setFont(PixelFont("Times New Roman", 12, true, true));
  SetTextColour(Label5, Qt::blue);
  Label5->setCursor(Qt::PointingHandCursor);
  Label5->OnClick = [this](QObject* sender) { Label5Click(sender); };

  Button1 = new QPushButton(QStringLiteral("Ok"), this);
  Button1->setGeometry(72, 141, 75, 25);
  Button1->setFont(PixelFont("MS Sans Serif", 15, true));
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, [this] { done(1); });

  for (QLabel* label :
       {Label1, Label2, Label3, static_cast<QLabel*>(Label4), static_cast<QLabel*>(Label5)})
    AutoSize(label);

  platform::RunGuarded([this] { FormCreate(this); });
  setFixedSize(size());
}

int TAboutBox::OuterWidth() const {
  return frameGeometry().width();
}

void TAboutBox::SetOuterWidth(int width) {
  outer_width_ = width;
  ApplyOuterWidth();
}

void TAboutBox::ApplyOuterWidth() {
  const int client = outer_width_ - (frameGeometry().width() - geometry().width());
  if (client != width()) setFixedSize(client, height());
}

void TAboutBox::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  ApplyOuterWidth();
  // A window manager may add its frame a moment later.
  QTimer::singleShot(0, this, [this] { ApplyOuterWidth(); });
}

void TAboutBox::FormCreate(QObject*) {
  SetOuterWidth(Label1->x() + Label1->width() + 20);
  // Centred on the outer width, halves to the even neighbour.
  Button1->move(static_cast<int>(std::nearbyint((OuterWidth() - Button1->width()) / 2.0)),
                Button1->y());
  std::string executable;
  try {
    executable = platform::ExecutablePath().string();
  } catch (const platform::Exception&) {
    // No path, no version: the line then ends after "Версия: ", as for a missing block.
  }
  const std::string version = ReadFileVersion(executable);
  Label2->setText(platform::ToQString(platform::Cp1251FromUtf8("Версия: ") + version));
  AutoSize(Label2);
}

void TAboutBox::Label4Click(QObject*) {
  platform::ShellOpenUrl(std::string("mailto:") + kMailAddress);
}

void TAboutBox::Label5Click(QObject*) {
  platform::ShellOpenUrl(kSiteUrl);
}

}  // namespace vestrel
