#include "main_window/main_form.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QFrame>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <functional>
#include <limits>

#include "about/about_box.h"
#include "main_window/archive_window.h"
#include "main_window/form_messaging.h"
#include "platform/cp1251.h"
#include "platform/error_box.h"
#include "platform/exceptions.h"
#include "platform/exe_path.h"
#include "platform/qt_glue.h"
#include "platform/shell.h"
#include "tray/program_icon.h"
#include "tray/tray_icon.h"

namespace vestrel {
namespace {

QString Text(const char* utf8) {
  return platform::ToQString(platform::Cp1251FromUtf8(utf8));
}

// Client area of the window (the menu bar sits above it).
constexpr int kClientWidth = 568;
constexpr int kClientHeight = 351;
constexpr int kWindowLeft = 218;
constexpr int kWindowTop = 161;
// States that would change the window's one size.
constexpr Qt::WindowStates kResizedStates = Qt::WindowMaximized | Qt::WindowFullScreen;

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, QRect geometry) {
  auto* b = new QPushButton(Text(caption), parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setGeometry(geometry);
  b->setAutoDefault(false);
  return b;
}

QLabel* MakeLabel(QLabel* label, const char* name, const char* caption, QRect geometry) {
  label->setObjectName(QString::fromLatin1(name));
  label->setText(Text(caption));
  label->setGeometry(geometry);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setTextFormat(Qt::PlainText);
  return label;
}

QPlainTextEdit* MakeMemo(QWidget* parent, const char* name, QRect geometry, bool read_only,
                         bool word_wrap, bool vertical_scroll_bar) {
  auto* m = new QPlainTextEdit(parent);
  m->setObjectName(QString::fromLatin1(name));
  m->setGeometry(geometry);
  m->setReadOnly(read_only);
  if (read_only) {
    // Selectable and copyable, never editable.
    m->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  }
  m->setLineWrapMode(word_wrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
  m->setVerticalScrollBarPolicy(vertical_scroll_bar ? Qt::ScrollBarAlwaysOn
                                                    : Qt::ScrollBarAlwaysOff);
  // Long lines of the modem log run past the edge: no horizontal bar anywhere.
  m->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // Tab moves to the next control, as in every field of this window.
  m->setTabChangesFocus(true);
  return m;
}

// Read-only, unwrapped, a vertical bar always and no horizontal one.
LogView* MakeLogView(QWidget* parent, const char* name, QRect geometry) {
  auto* v = new LogView(parent);
  v->setObjectName(QString::fromLatin1(name));
  v->setGeometry(geometry);
  v->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  v->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  return v;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, QRect geometry) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(QString::fromLatin1(name));
  e->setGeometry(geometry);
  e->setMaxLength(std::numeric_limits<int>::max());
  return e;
}

// Runs a handler as a slot: an exception that leaves it goes to the
// application's handler (the error message box) and the window goes on.
template <typename Handler>
auto Guarded(TForm1* form, Handler handler) {
  return [form, handler] { platform::RunGuarded([&] { (form->*handler)(form); }); };
}

}  // namespace

// ---- TWrapLabel ----

TWrapLabel::TWrapLabel(QWidget* parent) : QLabel(parent) {
  setWordWrap(true);
}

std::vector<QString> TWrapLabel::WrapLines(const QString& text, int width, const QFontMetrics& fm) {
  std::vector<QString> lines;
  QString line;
  qsizetype i = 0;
  const qsizetype n = text.size();
  while (i < n) {
    qsizetype spaces = 0;
    while (i + spaces < n && text[i + spaces] == u' ') ++spaces;
    qsizetype end = i + spaces;
    while (end < n && text[end] != u' ') ++end;
    const QString word = text.mid(i + spaces, end - i - spaces);
    const QString candidate = line + QString(spaces, u' ') + word;
    if (line.isEmpty() && lines.empty()) {
      line = candidate;
    } else if (!line.isEmpty() && fm.horizontalAdvance(candidate) <= width) {
      line = candidate;
    } else {
      // The break takes one space; each further space of the gap is an empty line's worth.
      lines.push_back(line);
      if (spaces > 1) lines.emplace_back();
      line = word;
    }
    i = end;
  }
  if (!line.isEmpty() || lines.empty()) lines.push_back(line);
  return lines;
}

void TWrapLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(
      palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
  painter.setFont(font());
  const QFontMetrics fm(font());
  int y = 0;
  for (const QString& line : WrapLines(text(), width(), fm)) {
    if (y >= height()) break;
    painter.drawText(QRect(0, y, width(), fm.height()), Qt::AlignLeft | Qt::AlignTop, line);
    y += fm.height();
  }
}

// ---- TForm1 ----

TForm1::TForm1() : TForm1(Options{}) {}

TForm1::TForm1(Options options) : QMainWindow(nullptr) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Vestrel"));
  // Error boxes belong here, whichever window is active when they come (the
  // owner is forgotten by itself when the window goes).
  platform::SetErrorBoxOwner(this);
  // One decoded picture for the window and the tray; the application's icon
  // is the same picture when the program entry has set it.
  const QIcon icon =
      QApplication::windowIcon().isNull() ? ProgramIcon() : QApplication::windowIcon();
  setWindowIcon(icon);
  // Fixed single border: minimise and close, no maximise, no resizing.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  // "MS Sans Serif" where it is installed, else the platform's sans face. Asking
  // for a missing family would cost a font-substitution search at every start.
  const QString face = QStringLiteral("MS Sans Serif");
  QFont font = QFontDatabase::hasFamily(face) ? QFont(face) : QApplication::font();
  font.setPointSize(8);
  setFont(font);

  TrayIcon1 = std::make_unique<TTrayIcon>(this);
  TrayIcon1->SetActOnMinimize(true);
  TrayIcon1->SetHint("Vestrel");
  TrayIcon1->SetIcon(icon);

  CreateControls();
  number_ = std::make_unique<LineEditField>(Edit1);
  text_ = std::make_unique<PlainTextField>(Memo3);
  Messaging = std::make_unique<station::Station>(
      std::move(options),
      station::FrontEnd{
          CommandLogDisplay(Memo1), ModemLogDisplay(Memo2), *number_, *text_,
          [this] {
            if (ArchiveWindow1) ArchiveWindow1->ReloadIfWritten();
          },
          [this] { QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection); }});
  BComPort1 = &Messaging->BComPort1;
  BComPort1->OnRxChar = [this](TBComPort* sender, int count) { BComPort1RxChar(sender, count); };
  Memo2->SetSource(&Messaging->modem_log.Lines());
  CreateMenu();
  ConnectHandlers();
  SetTabOrder();
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  // The size is settled before the window is first shown, so that the window
  // system is asked to put the frame, not the client area, at this point.
  layout()->activate();
  move(kWindowLeft, kWindowTop);

  // The creation handler runs last; its failure is reported and the window
  // is still created and shown.
  platform::RunGuarded([this] { FormCreate(this); });
}

TForm1::~TForm1() {
  ArchiveWindow1.reset();
  // Closing the port may still run a delivery that touches the logs.
  Messaging.reset();
  BComPort1 = nullptr;
  // Its icon goes while the window is still whole.
  TrayIcon1.reset();
}

void TForm1::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  // Taken back from the event loop, once the window system has settled the change.
  if (event->type() == QEvent::WindowStateChange && (windowState() & kResizedStates)) {
    QMetaObject::invokeMethod(
        this, [this] { setWindowState(windowState() & ~kResizedStates); }, Qt::QueuedConnection);
  }
}

void TForm1::CreateControls() {
  ClientArea = new QWidget(this);
  ClientArea->setObjectName(QStringLiteral("ClientArea"));
  ClientArea->setFixedSize(kClientWidth, kClientHeight);
  setCentralWidget(ClientArea);
  QWidget* c = ClientArea;

  Button4 = MakeButton(c, "Button4", "ReadSMS", {8, 8, 75, 25});
  Button1 = MakeButton(c, "Button1", "SendSMS", {8, 40, 75, 25});
  Label1 = MakeLabel(new QLabel(c), "Label1", "Номер (без \"+\")", {8, 72, 80, 13});
  Edit1 = MakeEdit(c, "Edit1", {8, 88, 121, 21});
  Label2 = MakeLabel(new QLabel(c), "Label2", "Текст СМС", {8, 112, 56, 13});
  Memo3 = MakeMemo(c, "Memo3", {8, 128, 169, 217}, false, true, false);
  Label4 = new TWrapLabel(c);
  MakeLabel(Label4, "Label4", "Р у ч н о й      р е ж и м     С М С", {184, 8, 12, 208});

  // The divider is a bevelled bar that shows the resize cursor but is
  // attached to nothing: dragging it moves nothing.
  Splitter1 = new QFrame(c);
  Splitter1->setObjectName(QStringLiteral("Splitter1"));
  Splitter1->setGeometry(200, 0, 3, kClientHeight);
  Splitter1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Splitter1->setLineWidth(1);
  Splitter1->setCursor(Qt::SizeHorCursor);
  Splitter1->setAutoFillBackground(true);
  QPalette bar = Splitter1->palette();
  // Nearest the platform has to the active caption's gradient colour.
  bar.setColor(QPalette::Window, bar.color(QPalette::Active, QPalette::Highlight).lighter(150));
  Splitter1->setPalette(bar);

  Label3 = new TWrapLabel(c);
  MakeLabel(Label3, "Label3", "С л у ж е б н а я   ч а с т ь", {208, 8, 8, 195});
  Memo2 = MakeLogView(c, "Memo2", {224, 0, 337, 217});
  Memo1 = MakeMemo(c, "Memo1", {224, 224, 185, 89}, true, true, true);
  Edit2 = MakeEdit(c, "Edit2", {224, 320, 185, 21});
  Edit2->setEnabled(false);
  Button2 = MakeButton(c, "Button2", "PortOpen", {448, 240, 75, 25});
  Button3 = MakeButton(c, "Button3", "PortClose", {448, 280, 75, 25});
  Button6 = MakeButton(c, "Button6", "SendATinCOM", {448, 320, 81, 25});

  for (QLabel* label : {Label1, Label2, static_cast<QLabel*>(Label3), static_cast<QLabel*>(Label4)})
    label->setFocusPolicy(Qt::NoFocus);
  // The platform's sans face is wider than the one the sizes were made for; a
  // caption that would be cut at its label's fixed width takes the condensed face.
  for (QLabel* label : {Label1, Label2}) {
    if (label->fontMetrics().horizontalAdvance(label->text()) <= label->width()) continue;
    QFont narrow = label->font();
    narrow.setStretch(QFont::Condensed);
    label->setFont(narrow);
  }
}

void TForm1::CreateMenu() {
  MainMenu1 = menuBar();
  MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
  // Inside the window on every desktop, so the client area is always below it.
  MainMenu1->setNativeMenuBar(false);
  N3 = MainMenu1->addMenu(Text("Справка"));
  N3->setObjectName(QStringLiteral("N3"));
  N1 = N3->addAction(Text("Подготовка к работе"));
  N1->setObjectName(QStringLiteral("N1"));
  N4 = N3->addAction(Text("О программе..."));
  N4->setObjectName(QStringLiteral("N4"));
  N2 = MainMenu1->addAction(Text("Выход"));
  N2->setObjectName(QStringLiteral("N2"));
  N5 = MainMenu1->addAction(Text("Архив"));
  N5->setObjectName(QStringLiteral("N5"));
}

void TForm1::ConnectHandlers() {
  connect(Button1, &QPushButton::clicked, this, Guarded(this, &TForm1::Button1Click));
  connect(Button2, &QPushButton::clicked, this, Guarded(this, &TForm1::Button2Click));
  connect(Button3, &QPushButton::clicked, this, Guarded(this, &TForm1::Button3Click));
  connect(Button4, &QPushButton::clicked, this, Guarded(this, &TForm1::Button4Click));
  connect(Button6, &QPushButton::clicked, this, Guarded(this, &TForm1::Button6Click));
  connect(N1, &QAction::triggered, this, Guarded(this, &TForm1::N1Click));
  connect(N2, &QAction::triggered, this, Guarded(this, &TForm1::N2Click));
  connect(N4, &QAction::triggered, this, Guarded(this, &TForm1::N4Click));
  connect(N5, &QAction::triggered, this, Guarded(this, &TForm1::N5Click));
}

void TForm1::SetTabOrder() {
  const QWidget* order[] = {Memo1,   Button1, Memo2,   Edit2, Button2,
                            Button3, Button4, Button6, Edit1, Memo3};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
    QWidget::setTabOrder(const_cast<QWidget*>(order[i]), const_cast<QWidget*>(order[i + 1]));
  }
}

// ---- Handlers ----

void TForm1::FormCreate(QObject*) {
  Messaging->FormCreate();
}

std::atomic<bool>& TForm1::DialogueStopFlag() {
  return Messaging->DialogueStopFlag();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (!Messaging->CloseRequested()) {
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

void TForm1::Button1Click(QObject*) {
  Messaging->SendSms();
}

void TForm1::Button2Click(QObject*) {
  Messaging->OpenPort();
}

void TForm1::Button3Click(QObject*) {
  Messaging->ClosePort();
}

void TForm1::Button4Click(QObject*) {
  Messaging->ReadSms();
}

void TForm1::Button6Click(QObject*) {
  Messaging->SendRawCommand(platform::FromQString(Edit2->text()));
}

void TForm1::N1Click(QObject*) {
  // Whether anything could open the guide is not reported.
  platform::ShellOpenFile(Messaging->HelpDocument(), "open");
}

void TForm1::N2Click(QObject*) {
  close();
}

void TForm1::N4Click(QObject*) {
  TAboutBox* box = AboutBox ? AboutBox : AboutBoxMaker ? AboutBoxMaker->Box() : nullptr;
  if (box) box->exec();
}

void TForm1::N5Click(QObject*) {
  if (!ArchiveWindow1) {
    ArchiveWindow1 = std::make_unique<ArchiveWindow>(*Messaging->Archive());
    // A window of its own, which does not keep the program running.
    ArchiveWindow1->setAttribute(Qt::WA_QuitOnClose, false);
    ArchiveWindow1->setWindowIcon(windowIcon());
    ArchiveWindow1->PlaceBeside(*this);
  }
  ArchiveWindow1->show();
  ArchiveWindow1->raise();
  ArchiveWindow1->activateWindow();
}

void TForm1::BComPort1RxChar(TBComPort*, int Count) {
  Messaging->ReceivedChars(Count);
}

}  // namespace vestrel
