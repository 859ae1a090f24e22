// The main window: every control's place, caption and state, the tab order,
// the menu, FormCreate with Pelmora.ini, and the Help and Exit items.

#include "main_window/main_form.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFrame>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>

#include "comport/b_com_port.h"
#include "main_window/form_messaging.h"
#include "main_window/log_view.h"
#include "platform/cp1251.h"
#include "platform/exceptions.h"
#include "platform/qt_glue.h"
#include "platform/shell.h"
#include "shell_test_support.h"

namespace vestrel {
namespace {

using platform::Cp1251FromUtf8;
using test::ReadFile;
using test::RecordedErrors;
using test::TempDir;
using test::WriteFile;

QString Q(const char* utf8) {
  return QString::fromUtf8(utf8);
}

std::string W(const char* utf8) {
  return Cp1251FromUtf8(utf8);
}

std::string IniWithPort(const std::string& port_cp1251) {
  return "[MODEM]\r\n" + Cp1251FromUtf8("COM Порт") + "=" + port_cp1251 + "\r\n";
}

// A form over a folder of the test's own; the folder holds an INI naming a
// port that does not exist unless the test writes another.
class MainFormTest : public ::testing::Test {
 protected:
  std::unique_ptr<TForm1> MakeForm() {
    TForm1::Options options;
    options.folder = dir.path();
    return std::make_unique<TForm1>(options);
  }
  std::unique_ptr<TForm1> MakeFormWithMissingPort() {
    WriteFile(dir / "Pelmora.ini", IniWithPort((dir / "no-such-tty").string()));
    return MakeForm();
  }

  TempDir dir;
  RecordedErrors errors;
};

struct ExpectedControl {
  const char* name;
  QRect geometry;
  const char* caption;  // nullptr: not a captioned control
};

TEST_F(MainFormTest, EveryControlAtItsPlaceWithItsCaption) {
  auto form = MakeFormWithMissingPort();
  const ExpectedControl expected_controls[] = {
      {"Button4", {8, 8, 75, 25}, "ReadSMS"},
      {"Button1", {8, 40, 75, 25}, "SendSMS"},
      {"Label1", {8, 72, 80, 13}, "Номер (без \"+\")"},
      {"Edit1", {8, 88, 121, 21}, nullptr},
      {"Label2", {8, 112, 56, 13}, "Текст СМС"},
      {"Memo3", {8, 128, 169, 217}, nullptr},
      {"Label4", {184, 8, 12, 208}, "Р у ч н о й      р е ж и м     С М С"},
      {"Splitter1", {200, 0, 3, 351}, nullptr},
      {"Label3", {208, 8, 8, 195}, "С л у ж е б н а я   ч а с т ь"},
      {"Memo2", {224, 0, 337, 217}, nullptr},
      {"Memo1", {224, 224, 185, 89}, nullptr},
      {"Edit2", {224, 320, 185, 21}, nullptr},
      {"Button2", {448, 240, 75, 25}, "PortOpen"},
      {"Button3", {448, 280, 75, 25}, "PortClose"},
      {"Button6", {448, 320, 81, 25}, "SendATinCOM"},
  };
  // Controls only: the layout keeps helper objects of its own there.
  EXPECT_EQ(form->ClientArea->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(),
            static_cast<qsizetype>(std::size(expected_controls)));
  for (const auto& control : expected_controls) {
    SCOPED_TRACE(control.name);
    auto* w = form->ClientArea->findChild<QWidget*>(QString::fromLatin1(control.name));
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->parentWidget(), form->ClientArea);
    EXPECT_EQ(w->geometry(), control.geometry);
    if (!control.caption) continue;
    if (auto* b = qobject_cast<QPushButton*>(w)) {
      EXPECT_EQ(b->text(), Q(control.caption));
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
      EXPECT_EQ(l->text(), Q(control.caption));
    } else {
      ADD_FAILURE() << "no caption";
    }
  }
  EXPECT_EQ(form->Button4, form->ClientArea->findChild<QPushButton*>("Button4"));
  EXPECT_EQ(form->Memo2, form->ClientArea->findChild<LogView*>("Memo2"));
}

TEST_F(MainFormTest, WindowIsFixedWithMinimiseAndNoMaximise) {
  auto form = MakeFormWithMissingPort();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Vestrel"));
  EXPECT_EQ(form->ClientArea->size(), QSize(568, 351));
  // The client area starts right under the menu bar.
  EXPECT_EQ(form->ClientArea->geometry().top(), form->MainMenu1->geometry().bottom() + 1);
  EXPECT_EQ(form->minimumSize(), form->maximumSize());
  EXPECT_EQ(form->size(), QSize(568, 351 + form->MainMenu1->height()));
  EXPECT_EQ(form->pos(), QPoint(218, 161));
  const auto flags = form->windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_FALSE(form->windowIcon().isNull());
  EXPECT_EQ(form->font().pointSize(), 8);

  // A resize request changes nothing.
  form->resize(800, 600);
  QApplication::processEvents();
  EXPECT_EQ(form->ClientArea->size(), QSize(568, 351));
}

// A window that cannot be resized is not maximised or made full-screen either.
TEST_F(MainFormTest, FullScreenAndMaximiseAreTakenBack) {
  auto form = MakeFormWithMissingPort();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  const QRect normal = form->geometry();
  form->showFullScreen();
  EXPECT_TRUE(QTest::qWaitFor([&] { return form->windowState() == Qt::WindowNoState; }));
  form->showMaximized();
  EXPECT_TRUE(QTest::qWaitFor([&] { return form->windowState() == Qt::WindowNoState; }));
  EXPECT_EQ(form->geometry(), normal);
}

TEST_F(MainFormTest, StatesOfFieldsAndLogs) {
  auto form = MakeFormWithMissingPort();
  // Memo1: command log, read-only, vertical bar, word wrap.
  EXPECT_TRUE(form->Memo1->isReadOnly());
  EXPECT_EQ(form->Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_EQ(form->Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(form->Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  // Memo2: modem log (read-only and unwrapped by its kind), vertical bar, no horizontal bar.
  EXPECT_EQ(form->Memo2->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(form->Memo2->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  // The command log is selectable, never editable.
  EXPECT_TRUE(form->Memo1->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
  EXPECT_FALSE(form->Memo1->textInteractionFlags().testFlag(Qt::TextEditable));
  // Memo3: SMS text, editable, wrap, no bars.
  EXPECT_FALSE(form->Memo3->isReadOnly());
  EXPECT_EQ(form->Memo3->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_EQ(form->Memo3->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(form->Memo3->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_TRUE(form->Memo3->toPlainText().isEmpty());
  // Edit1 editable without a practical limit; Edit2 disabled; both empty.
  EXPECT_TRUE(form->Edit1->isEnabled());
  EXPECT_FALSE(form->Edit1->isReadOnly());
  EXPECT_GE(form->Edit1->maxLength(), 1 << 30);
  EXPECT_FALSE(form->Edit2->isEnabled());
  EXPECT_TRUE(form->Edit1->text().isEmpty());
  EXPECT_TRUE(form->Edit2->text().isEmpty());
  // Labels: the vertical ones wrap, the others do not.
  EXPECT_TRUE(form->Label3->wordWrap());
  EXPECT_TRUE(form->Label4->wordWrap());
  EXPECT_FALSE(form->Label1->wordWrap());
  EXPECT_FALSE(form->Label2->wordWrap());

  // A long line of the command log wraps.
  const QString long_line(500, u'x');
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  form->Memo1->setPlainText(long_line + " " + long_line);
  QApplication::processEvents();
  EXPECT_GT(form->Memo1->document()->firstBlock().layout()->lineCount(), 1);
}

// The modem log as the plain-text pane it replaces showed it: a read-only,
// unwrapped QPlainTextEdit given the whole text at once is the reference.
QPlainTextEdit* ReferencePane(QWidget* parent, const std::string& bytes) {
  auto* memo = new QPlainTextEdit(parent);
  memo->setReadOnly(true);
  memo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QString text = platform::ToQString(bytes);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  memo->setPlainText(text);
  memo->show();
  return memo;
}

// Grown chunk by chunk (a CR at the end of one chunk and the LF in front of
// the next make one break), the modem log looks, scrolls and answers the mouse
// as the reference pane wherever it is scrolled to, at several sizes.
TEST_F(MainFormTest, ModemLogLooksAsThePlainTextPane) {
  auto form = MakeFormWithMissingPort();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  ShadowPane& log = form->Messaging->modem_log;
  for (int i = 0; i < 300; ++i) {
    log.Prepend("\n+CSQ: " + std::to_string(i % 32) + ",99 #" + std::to_string(i) +
                std::string(i % 7, '-') + W(" Уровень") + (i % 3 ? "\r\n" : "\r"));
    if (i % 100 == 50) log.Append("\r\nline " + std::to_string(i) + std::string(120, 'x'));
  }
  QApplication::processEvents();
  LogView* view = form->Memo2;
  QPlainTextEdit* reference = ReferencePane(view->parentWidget(), log.Text());
  ASSERT_EQ(view->toPlainText(), reference->toPlainText());

  struct Case {
    QSize size;
    std::vector<int> values;  // -1: the end
  };
  const Case cases[] = {{{337, 217}, {0, 1, 17, 150, 599, -1}},
                        {{200, 61}, {0, 3, 300, -1}},
                        {{337, 30}, {0, 1, -1}}};
  for (const Case& c : cases) {
    view->resize(c.size);
    reference->resize(c.size);
    QApplication::processEvents();
    SCOPED_TRACE(std::to_string(c.size.width()) + "x" + std::to_string(c.size.height()));
    ASSERT_EQ(view->verticalScrollBar()->maximum(), reference->verticalScrollBar()->maximum());
    EXPECT_EQ(view->verticalScrollBar()->pageStep(), reference->verticalScrollBar()->pageStep());
    for (int value : c.values) {
      if (value < 0) value = reference->verticalScrollBar()->maximum();
      SCOPED_TRACE("scrolled to " + std::to_string(value));
      view->verticalScrollBar()->setValue(value);
      reference->verticalScrollBar()->setValue(value);
      QApplication::processEvents();
      EXPECT_EQ(view->grab().toImage(), reference->grab().toImage());
      for (QPoint at : {QPoint(5, 3), QPoint(60, 25), QPoint(30, c.size.height() - 8)}) {
        const QTextCursor cursor = reference->cursorForPosition(at);
        const LogView::Position expected{static_cast<std::size_t>(cursor.blockNumber()),
                                         static_cast<std::size_t>(cursor.positionInBlock())};
        EXPECT_EQ(view->PositionAt(at), expected) << at.x() << "," << at.y();
      }
    }
  }

  // A selection across lines is painted as the reference paints it.
  view->resize(337, 217);
  reference->resize(337, 217);
  view->verticalScrollBar()->setValue(0);
  reference->verticalScrollBar()->setValue(0);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(30, 10));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier, QPoint(80, 60));
  QTest::mouseClick(reference->viewport(), Qt::LeftButton, {}, QPoint(30, 10));
  QTest::mouseClick(reference->viewport(), Qt::LeftButton, Qt::ShiftModifier, QPoint(80, 60));
  form->setFocus();
  QApplication::processEvents();
  EXPECT_EQ(view->SelectedText(),
            reference->textCursor().selectedText().replace(QChar::ParagraphSeparator, u'\n'));
  EXPECT_EQ(view->grab().toImage(), reference->grab().toImage());
}

// The keyboard selects and copies; a change of the text shows the top and
// drops the selection.
TEST_F(MainFormTest, ModemLogSelectsAndCopiesByKeyboard) {
  auto form = MakeFormWithMissingPort();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  ShadowPane& log = form->Messaging->modem_log;
  log.SetText(W("первая\r\nsecond\nthird\rlast"));
  LogView* view = form->Memo2;
  view->setFocus();
  struct Case {
    std::vector<std::pair<int, Qt::KeyboardModifiers>> keys;
    QString selected;
  };
  const Case cases[] = {
      {{{Qt::Key_Right, Qt::ShiftModifier}, {Qt::Key_Right, Qt::ShiftModifier}}, Q("пе")},
      {{{Qt::Key_Down, {}}, {Qt::Key_End, Qt::ShiftModifier}}, Q("second")},
      {{{Qt::Key_End, {}}, {Qt::Key_Right, Qt::ShiftModifier}, {Qt::Key_Down, Qt::ShiftModifier}},
       Q("\nsecond\n")},
      {{{Qt::Key_End, Qt::ControlModifier}, {Qt::Key_Up, Qt::ShiftModifier}}, Q("d\nlast")},
      {{{Qt::Key_A, Qt::ControlModifier}}, Q("первая\nsecond\nthird\nlast")},
  };
  for (const Case& c : cases) {
    view->ShowTop();
    for (const auto& [key, modifiers] : c.keys) QTest::keyClick(view, Qt::Key(key), modifiers);
    EXPECT_EQ(view->SelectedText(), c.selected);
    QApplication::clipboard()->clear();
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), c.selected);
  }
  log.Prepend("\r\nOK\r\n");
  EXPECT_EQ(view->SelectedText(), QString());
  EXPECT_EQ(view->verticalScrollBar()->value(), 0);
}

TEST_F(MainFormTest, VerticalLabelsStandOneLetterPerLineWithEmptyLinesBetweenWords) {
  auto form = MakeFormWithMissingPort();
  const QFontMetrics fm3(form->Label3->font());
  const auto lines3 = TWrapLabel::WrapLines(form->Label3->text(), form->Label3->width(), fm3);
  std::vector<QString> expected3;
  for (QChar c : Q("Служебная")) expected3.emplace_back(c);
  expected3.emplace_back();
  for (QChar c : Q("часть")) expected3.emplace_back(c);
  EXPECT_EQ(lines3, expected3);

  const QFontMetrics fm4(form->Label4->font());
  const auto lines4 = TWrapLabel::WrapLines(form->Label4->text(), form->Label4->width(), fm4);
  ASSERT_EQ(lines4.size(), 16u);  // 14 letters, two empty lines
  EXPECT_EQ(lines4[0], Q("Р"));
  EXPECT_TRUE(lines4[6].isEmpty());
  EXPECT_EQ(lines4[7], Q("р"));
  EXPECT_TRUE(lines4[12].isEmpty());
  EXPECT_EQ(lines4[15], Q("С"));

  // A wide label keeps words together on one line.
  const auto wide = TWrapLabel::WrapLines(Q("a b  c"), 1000, fm3);
  EXPECT_EQ(wide, std::vector<QString>{Q("a b  c")});
}

TEST_F(MainFormTest, DividerShowsResizeCursorAndMovesNothing) {
  auto form = MakeFormWithMissingPort();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  EXPECT_EQ(form->Splitter1->cursor().shape(), Qt::SizeHorCursor);
  EXPECT_EQ(form->Splitter1->frameShadow(), QFrame::Raised);
  std::vector<QRect> before;
  for (auto* w : form->ClientArea->findChildren<QWidget*>()) before.push_back(w->geometry());
  QTest::mousePress(form->Splitter1, Qt::LeftButton, {}, QPoint(1, 100));
  QTest::mouseMove(form->Splitter1, QPoint(60, 100));
  QTest::mouseRelease(form->Splitter1, Qt::LeftButton, {}, QPoint(60, 100));
  std::vector<QRect> after;
  for (auto* w : form->ClientArea->findChildren<QWidget*>()) after.push_back(w->geometry());
  EXPECT_EQ(before, after);
}

TEST_F(MainFormTest, TabCyclesTheControlsInOrderSkippingTheDisabledEdit) {
  auto form = MakeFormWithMissingPort();
  form->show();
  QApplication::setActiveWindow(form.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  form->Memo1->setFocus(Qt::OtherFocusReason);
  ASSERT_EQ(QApplication::focusWidget(), form->Memo1);
  const std::vector<QWidget*> expected = {
      form->Button1, form->Memo2, form->Button2, form->Button3, form->Button4,
      form->Button6, form->Edit1, form->Memo3,   form->Memo1,   form->Button1};
  std::vector<QWidget*> seen;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    seen.push_back(QApplication::focusWidget());
  }
  EXPECT_EQ(seen, expected);
  // Tab in the SMS text moved on instead of typing a tab.
  EXPECT_TRUE(form->Memo3->toPlainText().isEmpty());

  // Labels and the divider take no focus.
  for (QWidget* w : {static_cast<QWidget*>(form->Label1), static_cast<QWidget*>(form->Label2),
                     static_cast<QWidget*>(form->Label3), static_cast<QWidget*>(form->Label4),
                     static_cast<QWidget*>(form->Splitter1)}) {
    EXPECT_EQ(w->focusPolicy(), Qt::NoFocus) << w->objectName().toStdString();
  }
}

TEST_F(MainFormTest, MenuHelpWithTwoItemsExitAndArchiveAtTopLevel) {
  auto form = MakeFormWithMissingPort();
  const auto top = form->MainMenu1->actions();
  ASSERT_EQ(top.size(), 3);
  EXPECT_EQ(top[0], form->N3->menuAction());
  EXPECT_EQ(top[1], form->N2);
  EXPECT_EQ(top[2], form->N5);
  EXPECT_EQ(form->N5->text(), Q("Архив"));
  EXPECT_EQ(form->N3->title(), Q("Справка"));
  EXPECT_EQ(form->N2->text(), Q("Выход"));
  EXPECT_EQ(form->N2->menu(), nullptr);
  const auto help = form->N3->actions();
  ASSERT_EQ(help.size(), 2);
  EXPECT_EQ(help[0], form->N1);
  EXPECT_EQ(help[1], form->N4);
  EXPECT_EQ(form->N1->text(), Q("Подготовка к работе"));
  EXPECT_EQ(form->N4->text(), Q("О программе..."));
}

TEST_F(MainFormTest, HelpOpensTheGuideBesideTheProgramWhateverTheCurrentDirectory) {
  auto form = MakeFormWithMissingPort();
  std::vector<platform::ShellRequest> requests;
  const auto previous = platform::SetShellHook([&](const platform::ShellRequest& r) {
    requests.push_back(r);
    return false;  // nothing could open it: the program says nothing
  });
  const auto cwd = std::filesystem::current_path();
  TempDir elsewhere;
  std::filesystem::current_path(elsewhere.path());
  const std::size_t errors_before = errors.entries().size();
  form->N1->trigger();
  std::filesystem::current_path(cwd);
  platform::SetShellHook(previous);

  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].verb, "open");
  EXPECT_EQ(requests[0].file, dir.path() / "Подготовка программы к работе.doc");
  EXPECT_EQ(errors.entries().size(), errors_before);
}

TEST_F(MainFormTest, ExitClosesTheWindow) {
  auto form = MakeFormWithMissingPort();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  form->N2->trigger();
  EXPECT_FALSE(form->isVisible());
}

// ---- FormCreate and Pelmora.ini ----

TEST_F(MainFormTest, NoIniCreatesItWithTheDefaultPortAndTriesCom11) {
  auto form = MakeForm();
  EXPECT_EQ(ReadFile(dir / "Pelmora.ini"), "[MODEM]\r\nCOM \xCF\xEE\xF0\xF2=COM11\r\n");
  EXPECT_EQ(form->BComPort1->Port(), "COM11");
  EXPECT_FALSE(form->BComPort1->Connected());
  // COM11 is /dev/ttyS10; its absence gives the port's own message, once.
  if (!std::filesystem::exists("/dev/ttyS10")) {
    EXPECT_EQ(errors.messages(), std::vector<std::string>{comport_messages::NoSuchPort()});
  } else {
    EXPECT_LE(errors.entries().size(), 1u);
  }
}

// The port the window takes from an existing Pelmora.ini, which it leaves as it is.
TEST_F(MainFormTest, PortFromAnExistingIni) {
  const std::string long_name = "/" + std::string(3000, 'p');
  const std::string tty_a = (dir / "tty-A").string();
  const struct {
    std::string content;
    std::string port;
  } rows[] = {
      {"[Other]\r\nA=1\r\n", "COM11"},
      {"[MODEM]\r\nSpeed=9600\r\n", "COM11"},
      {"", "COM11"},
      // section and key match without regard to case
      {"[modem]\r\n" + Cp1251FromUtf8("com пОРТ") + "=" + tty_a + "\r\n", tty_a},
      {IniWithPort(long_name), long_name.substr(0, 2047)},  // cut as the profile reads it
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.content.substr(0, 40));
    WriteFile(dir / "Pelmora.ini", row.content);
    auto form = MakeForm();
    EXPECT_EQ(form->BComPort1->Port(), row.port);
    EXPECT_EQ(ReadFile(dir / "Pelmora.ini"), row.content);
  }
}

TEST_F(MainFormTest, EmptyPortNameFailsToOpenAndTheWindowStillShows) {
  WriteFile(dir / "Pelmora.ini", IniWithPort(""));
  auto form = MakeForm();
  EXPECT_EQ(form->BComPort1->Port(), "");
  EXPECT_FALSE(form->BComPort1->Connected());
  ASSERT_EQ(errors.entries().size(), 1u);
  EXPECT_FALSE(errors.entries()[0].message.empty());
  form->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
}

TEST_F(MainFormTest, UnwritableFolderReportsThePathAndLeavesThePortClosed) {
  const auto folder = test::UnwritableFolder(dir);
  TForm1::Options options;
  options.folder = folder;
  TForm1 form(options);
  const std::string expected =
      platform::Cp1251FromUtf8("Не удаётся записать в файл " + (folder / "Pelmora.ini").string());
  EXPECT_EQ(errors.messages(), std::vector<std::string>{expected});
  EXPECT_EQ(platform::ErrorBoxText(errors.messages().at(0)), expected + ".");
  EXPECT_FALSE(errors.entries()[0].window_visible);
  EXPECT_EQ(form.BComPort1->Port(), "COM11");
  EXPECT_FALSE(form.BComPort1->Connected());
  EXPECT_FALSE(std::filesystem::exists(folder / "Pelmora.ini"));
}

TEST_F(MainFormTest, IniIsLookedUpInTheProgramFolderNotTheCurrentDirectory) {
  WriteFile(dir / "Pelmora.ini", IniWithPort("/dev/from-program-folder"));
  TempDir elsewhere;
  WriteFile(elsewhere / "Pelmora.ini", IniWithPort("/dev/from-current-directory"));
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(elsewhere.path());
  auto form = MakeForm();
  std::filesystem::current_path(cwd);
  EXPECT_EQ(form->BComPort1->Port(), "/dev/from-program-folder");
}

TEST_F(MainFormTest, HandlerExceptionsGoToTheApplicationHandler) {
  auto form = MakeFormWithMissingPort();
  ASSERT_EQ(errors.entries().size(), 1u);
  // SendATinCOM on a port that never opened: the write fails.
  form->Button6->click();
  ASSERT_EQ(errors.entries().size(), 2u);
  EXPECT_EQ(errors.messages()[1], comport_messages::WriteError());
  // PortOpen repeats the attempt with the same name.
  form->Button2->click();
  ASSERT_EQ(errors.entries().size(), 3u);
  EXPECT_EQ(errors.messages()[2], comport_messages::NoSuchPort());
  EXPECT_EQ(form->BComPort1->Port(), (dir / "no-such-tty").string());
}

}  // namespace
}  // namespace vestrel
