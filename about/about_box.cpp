#include "about/about_box.h"

#include <QFont>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QWindow>

#include <cmath>
#include <optional>
#include <utility>

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
TAboutBoxMaker* AboutBoxMaker = nullptr;

namespace {

// States that would change the box's one size.
constexpr Qt::WindowStates kResizedStates = Qt::WindowMaximized | Qt::WindowFullScreen;

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

TAboutBox::TAboutBox(QWidget* parent) : TAboutBox(parent, std::nullopt) {}

TAboutBox::TAboutBox(QWidget* parent, std::optional<std::string> version)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      version_(std::move(version)) {
  setWindowTitle(Text("О программе..."));
  // Over its owner window it blocks only that window; the notification-area
  // icon, a window of its own, keeps answering the mouse.
  setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
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

void TAboutBox::PlaceFrame() {
  ApplyOuterWidth();
  const QPoint corner(kLeft, kTop);
  if (frameGeometry().topLeft() == corner) return;
  // A hidden window is moved by its frame as far as the frame is known, and a
  // window never shown is put with its frame at the point; a window on the
  // screen has its frame moved there.
  if (QWindow* window = windowHandle(); window && isVisible())
    window->setFramePosition(corner);
  else
    move(corner);
}

void TAboutBox::setVisible(bool visible) {
  if (visible && !isVisible()) {
    placing_ = true;
    PlaceFrame();
  }
  QDialog::setVisible(visible);
}

void TAboutBox::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Where the window system knows its frame before the window is on the screen.
  ApplyOuterWidth();
}

bool TAboutBox::event(QEvent* event) {
  const bool handled = QDialog::event(event);
  // A window manager frames the window after it is shown and reports the
  // frame with the move or resize that follows. The first frame seen in a
  // showing decides the width and the position; later ones (the operator
  // moved the box) only the width.
  if ((event->type() == QEvent::Move || event->type() == QEvent::Resize) && isVisible()) {
    if (placing_ && frameGeometry() != geometry()) {
      placing_ = false;
      PlaceFrame();
    } else {
      ApplyOuterWidth();
    }
  }
  return handled;
}

void TAboutBox::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && (windowState() & kResizedStates)) {
    QMetaObject::invokeMethod(
        this, [this] { setWindowState(windowState() & ~kResizedStates); }, Qt::QueuedConnection);
  }
}

void TAboutBox::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape || event->matches(QKeySequence::Cancel)) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TAboutBox::FormCreate(QObject*) {
  SetOuterWidth(Label1->x() + Label1->width() + 20);
  // Centred on the outer width, halves to the even neighbour.
  Button1->move(static_cast<int>(std::nearbyint((OuterWidth() - Button1->width()) / 2.0)),
                Button1->y());
  if (!version_) version_ = ReadVersion();
  Label2->setText(platform::ToQString(platform::Cp1251FromUtf8("Версия: ") + *version_));
  AutoSize(Label2);
}

std::string TAboutBox::ReadVersion() {
  std::string executable;
  try {
    executable = platform::ExecutablePath().string();
  } catch (const platform::Exception&) {
    // No path, no version: the line then ends after "Версия: ", as for a missing block.
  }
  return ReadFileVersion(executable);
}

TAboutBoxMaker::TAboutBoxMaker(QWidget* owner) : owner_(owner) {
  // A failure is reported as the box's own creation would report it, and the
  // box then reads the line again when it is made.
  platform::RunGuarded([this] { version_ = TAboutBox::ReadVersion(); });
}

TAboutBoxMaker::~TAboutBoxMaker() {
  delete box_.data();
}

TAboutBox* TAboutBoxMaker::Box() {
  if (!box_) box_ = new TAboutBox(owner_, version_);
  return box_;
}

void TAboutBox::Label4Click(QObject*) {
  platform::ShellOpenUrl(std::string("mailto:") + kMailAddress);
}

void TAboutBox::Label5Click(QObject*) {
  platform::ShellOpenUrl(kSiteUrl);
}

}  // namespace vestrel
