// The archive window under the offscreen platform: its Russian captions, the
// listing loaded a page at a time newest first or in a clicked column's order,
// local times and days, the filter with Cyrillic of either case, export of the
// whole listing, copy of the selected rows (button and Ctrl+C), and what a
// dialogue wrote shown at once.
#include "main_window/archive_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDateEdit>
#include <QDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>

#include "archive/archive_export.h"
#include "archive_test_support.h"
#include "tests/support/qt_environment.h"

namespace vestrel {
namespace {

using test::Shown;
using test::TempDir;

QString Q(const char* utf8) {
  return QString::fromUtf8(utf8);
}

// Types the text into the widget key by key, as a keyboard with the letters would.
void Type(QWidget* widget, const QString& text) {
  for (const QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &release);
  }
}

class ArchiveWindowTest : public ::testing::Test {
 protected:
  // count messages, the newest last; every third speaks of a cat in capitals.
  void Fill(int count) {
    std::vector<archive::ShownMessage> messages;
    for (int i = 0; i < count; ++i)
      messages.push_back(Shown("+7916" + std::to_string(1000000 + i), "26/12/08,10:15:00",
                               (i % 3 == 0 ? "КОТ номер " : "пёс номер ") + std::to_string(i)));
    ASSERT_TRUE(archive.StoreReceivedMany(messages).ok());
  }
  std::string Text(const ArchiveTableModel* model, int row) { return model->Fields(row)[3]; }

  TempDir dir;
  archive::Archive archive{dir / "archive.sqlite"};
};

TEST_F(ArchiveWindowTest, CaptionsAreRussian) {
  ArchiveWindow window(archive);
  EXPECT_EQ(window.windowTitle(), Q("Архив СМС"));
  ASSERT_EQ(window.Tabs->count(), 3);
  EXPECT_EQ(window.Tabs->tabText(0), Q("Принятые"));
  EXPECT_EQ(window.Tabs->tabText(1), Q("Отправленные"));
  EXPECT_EQ(window.Tabs->tabText(2), Q("Байты чтений"));
  EXPECT_EQ(window.FilterLabel->text(), Q("Фильтр"));
  EXPECT_EQ(window.ExportButton->text(), Q("Экспорт в CSV"));
  EXPECT_EQ(window.CopyButton->text(), Q("Копировать"));
  const auto* model = window.ReceivedModel();
  EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), Q("Время (UTC)"));
  EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), Q("Номер"));
  EXPECT_EQ(model->headerData(2, Qt::Horizontal).toString(), Q("Время отправки"));
  EXPECT_EQ(model->headerData(3, Qt::Horizontal).toString(), Q("Текст"));
}

TEST_F(ArchiveWindowTest, RowsComeAPageAtATimeNewestFirst) {
  Fill(450);
  ArchiveWindow window(archive);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  ArchiveTableModel* model = window.ReceivedModel();
  // One page loaded, the newest message on top.
  EXPECT_LT(model->rowCount(), 450);
  EXPECT_GE(model->rowCount(), ArchiveTableModel::kPageRows);
  EXPECT_EQ(Text(model, 0), "пёс номер 449");
  EXPECT_EQ(window.ReceivedView->model()->data(model->index(0, 1)).toString(), Q("+79161000449"));

  // Scrolling to the end brings the rest.
  for (int i = 0; i < 10 && model->canFetchMore({}); ++i) {
    window.ReceivedView->scrollToBottom();
    QApplication::processEvents();
  }
  ASSERT_EQ(model->rowCount(), 450);
  EXPECT_FALSE(model->canFetchMore({}));
  for (int row = 0; row < 450; ++row) {
    const int i = 449 - row;
    ASSERT_EQ(Text(model, row), (i % 3 == 0 ? "КОТ номер " : "пёс номер ") + std::to_string(i));
  }
}

TEST_F(ArchiveWindowTest, FilterMatchesCyrillicOfEitherCaseInBothListings) {
  Fill(30);
  std::int64_t id;
  ASSERT_TRUE(
      archive.StoreSendStarted("COM11", "79160000001", platform::Cp1251FromUtf8("Кот ушёл"), 1, id)
          .ok());
  ASSERT_TRUE(archive.StoreSendStarted("COM11", "79160000002", "dog", 1, id).ok());
  ArchiveWindow window(archive);
  Type(window.FilterEdit, Q("кот"));
  ASSERT_EQ(window.FilterEdit->text(), Q("кот"));
  ArchiveTableModel* received = window.ReceivedModel();
  ASSERT_EQ(received->rowCount(), 10);
  for (int row = 0; row < received->rowCount(); ++row)
    EXPECT_TRUE(Text(received, row).starts_with("КОТ")) << Text(received, row);
  ASSERT_EQ(window.SentModel()->rowCount(), 1);
  EXPECT_EQ(window.SentModel()->Fields(0)[4], "Кот ушёл");

  window.FilterEdit->setText(Q("+79161000007"));
  ASSERT_EQ(received->rowCount(), 1);
  EXPECT_EQ(Text(received, 0), "пёс номер 7");
  window.FilterEdit->clear();
  EXPECT_EQ(received->rowCount(), 30);
  EXPECT_EQ(window.SentModel()->rowCount(), 2);
}

// The sent tab says what became of each send; opened, a send shows its parts
// and the modem's answers.
TEST_F(ArchiveWindowTest, ASendShowsItsStatusAndOpensToItsParts) {
  std::int64_t id = 0;
  ASSERT_TRUE(archive.StoreSendStarted("COM11", "79160000001", "ab", 2, id).ok());
  ASSERT_TRUE(archive.StorePartWritten(id, 1, "01").ok());
  ASSERT_TRUE(archive.StoreSendAnswer(id, "+CMGS: 4").ok());
  ASSERT_TRUE(archive.StorePartWritten(id, 2, "02").ok());
  ASSERT_TRUE(archive.StoreSendAnswer(id, "+CMS ERROR: 500").ok());
  ASSERT_TRUE(
      archive.StorePartResult(id, 1, {archive::SendStatus::kAccepted, "a", 4, {}, ""}).ok());
  const std::string error = platform::Cp1251FromUtf8("модем ответил +CMS ERROR: 500");
  ASSERT_TRUE(
      archive.StorePartResult(id, 2, {archive::SendStatus::kRefused, "b", {}, 500, error}).ok());
  ASSERT_TRUE(archive.StoreSendResult(id, archive::SendStatus::kRefused).ok());
  ASSERT_TRUE(archive.StoreSendStarted("COM11", "79160000002", "c", 1, id).ok());

  ArchiveWindow window(archive);
  ArchiveTableModel* sent = window.SentModel();
  EXPECT_EQ(sent->headerData(3, Qt::Horizontal).toString(), Q("Состояние"));
  ASSERT_EQ(sent->rowCount(), 2);
  EXPECT_EQ(sent->Fields(0)[3], "неизвестно");
  EXPECT_EQ(sent->Fields(1)[3], "отклонено");

  QDialog* box = window.OpenSend(1);
  ASSERT_NE(box, nullptr);
  const auto* parts = box->findChild<QTableWidget*>(QStringLiteral("Parts"));
  ASSERT_NE(parts, nullptr);
  ASSERT_EQ(parts->rowCount(), 2);
  const auto cell = [&](int row, int column) { return parts->item(row, column)->text(); };
  EXPECT_EQ(cell(0, 1), Q("a"));
  EXPECT_EQ(cell(0, 2), Q("принято"));
  EXPECT_EQ(cell(0, 3), Q("ссылка 4"));
  EXPECT_EQ(cell(1, 2), Q("отклонено"));
  EXPECT_EQ(cell(1, 3), Q("модем ответил +CMS ERROR: 500"));
  const auto* answers = box->findChild<QPlainTextEdit*>(QStringLiteral("Answers"));
  ASSERT_NE(answers, nullptr);
  EXPECT_TRUE(answers->toPlainText().contains(Q("+CMGS: 4\n")));
  EXPECT_TRUE(answers->toPlainText().endsWith(Q("+CMS ERROR: 500")));
  EXPECT_EQ(window.OpenSend(2), nullptr);
}

TEST_F(ArchiveWindowTest, ExportWritesEveryListedRowNotOnlyTheLoadedPage) {
  Fill(700);
  ArchiveWindow window(archive);
  window.FilterEdit->setText(Q("ПЁС"));
  ASSERT_LT(window.ReceivedModel()->rowCount(), 466);
  const QString path = QString::fromStdString((dir / "listed.csv").string());
  ASSERT_TRUE(window.ExportTo(path));
  std::vector<archive::ReceivedRow> rows;
  ASSERT_TRUE(archive.ListReceived(test::Matching("пёс"), rows).ok());
  EXPECT_EQ(rows.size(), 466u);
  EXPECT_EQ(test::ReadFile(dir / "listed.csv"), archive::ReceivedCsv(rows));

  window.Tabs->setCurrentIndex(1);
  ASSERT_TRUE(window.ExportTo(path));
  EXPECT_EQ(test::ReadFile(dir / "listed.csv"), archive::SentCsv({}));
  EXPECT_FALSE(window.ExportTo(QString::fromStdString((dir / "no" / "such.csv").string())));
}

// A long export shows its progress and can be stopped; nothing is left then.
TEST_F(ArchiveWindowTest, ExportStoppedHalfWayLeavesNoFile) {
  Fill(5000);
  ArchiveWindow window(archive);
  const auto file = dir / "stopped.csv";
  QTimer::singleShot(0, &window, [&window] {
    if (auto* progress = window.findChild<QProgressDialog*>()) progress->cancel();
  });
  EXPECT_FALSE(window.ExportTo(QString::fromStdString(file.string())));
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_TRUE(window.StatusLabel->text().contains(Q("прерван")));
}

TEST_F(ArchiveWindowTest, CopyTakesTheSelectedRowsInListOrder) {
  Fill(5);
  archive::ShownMessage odd = Shown("+79160000000", "26/12/08,11:00:00", "две\tчасти");
  ASSERT_TRUE(archive.StoreReceived(odd).ok());
  ArchiveWindow window(archive);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QTableView* view = window.ReceivedView;
  view->selectRow(3);
  view->selectionModel()->select(view->model()->index(0, 0),
                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
  const auto* model = window.ReceivedModel();
  const QString expected = QString::fromStdString(model->Fields(0)[0]) +
                           Q("\t+79160000000\t26/12/08,11:00:00\t\"две\tчасти\"\n") +
                           QString::fromStdString(model->Fields(3)[0]) +
                           Q("\t+79161000002\t26/12/08,10:15:00\tпёс номер 2\n");
  EXPECT_EQ(window.SelectedRowsText(), expected);
  QTest::mouseClick(window.CopyButton, Qt::LeftButton);
  EXPECT_EQ(QApplication::clipboard()->text(), expected);
}

TEST_F(ArchiveWindowTest, ShownAgainItListsWhatCameMeanwhile) {
  Fill(2);
  ArchiveWindow window(archive);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  window.hide();
  ASSERT_TRUE(archive.StoreReceived(Shown("+79160000000", "26/12/08,12:00:00", "новое")).ok());
  EXPECT_EQ(window.ReceivedModel()->rowCount(), 2);
  window.show();
  ASSERT_EQ(window.ReceivedModel()->rowCount(), 3);
  EXPECT_EQ(Text(window.ReceivedModel(), 0), "новое");
}

TEST_F(ArchiveWindowTest, RawBytesOfReadingsAreReadable) {
  ASSERT_TRUE(
      archive.StoreRawBytes("COM11", platform::Cp1251FromUtf8("+CMGR: \"Ё\"\r\n\x01")).ok());
  ArchiveWindow window(archive);
  ASSERT_EQ(window.RawModel()->rowCount(), 1);
  EXPECT_EQ(window.RawModel()->Fields(0)[2], "+CMGR: \"Ё\"\\r\\n\\x01");
  EXPECT_EQ(window.RawModel()->Fields(0)[3], "2b434d47523a2022a8220d0a01");
}

TEST_F(ArchiveWindowTest, UnavailableArchiveIsSaidInTheWindow) {
  archive::Archive nowhere("/proc/self/fdinfo/vestrel/archive.sqlite");
  ArchiveWindow window(nowhere);
  EXPECT_EQ(window.ReceivedModel()->rowCount(), 0);
  EXPECT_FALSE(window.ReceivedModel()->canFetchMore({}));
  EXPECT_TRUE(window.StatusLabel->text().startsWith(Q("Архив СМС недоступен: папка")))
      << window.StatusLabel->text().toStdString();
  EXPECT_FALSE(window.ExportTo(QString::fromStdString((dir / "x.csv").string())));
  EXPECT_FALSE(std::filesystem::exists(dir / "x.csv"));
}

// Every row of the listing, all pages loaded.
std::vector<std::string> AllTexts(ArchiveWindow& window, ArchiveTableModel* model) {
  for (int i = 0; i < 20 && model->canFetchMore({}); ++i) {
    window.ReceivedView->scrollToBottom();
    QApplication::processEvents();
  }
  std::vector<std::string> texts;
  for (int row = 0; row < model->rowCount(); ++row) texts.push_back(model->Fields(row)[3]);
  return texts;
}

void ClickHeader(QTableView* view, int section) {
  QHeaderView* header = view->horizontalHeader();
  const QPoint at(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                  header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

TEST_F(ArchiveWindowTest, HeaderClickOrdersTheWholeArchiveAndASecondClickReverses) {
  Fill(450);
  ArchiveWindow window(archive);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  ArchiveTableModel* model = window.ReceivedModel();
  std::vector<std::string> sorted = AllTexts(window, model);
  ASSERT_EQ(sorted.size(), 450u);
  std::sort(sorted.begin(), sorted.end());

  ClickHeader(window.ReceivedView, 3);
  ASSERT_EQ(model->OrderColumn(), 3);
  const Qt::SortOrder first = model->Order();
  EXPECT_EQ(model->rowCount(), ArchiveTableModel::kPageRows);  // read anew, a page
  std::vector<std::string> texts = AllTexts(window, model);
  if (first == Qt::DescendingOrder) std::reverse(texts.begin(), texts.end());
  EXPECT_EQ(texts, sorted);

  ClickHeader(window.ReceivedView, 3);
  EXPECT_NE(model->Order(), first);
  texts = AllTexts(window, model);
  if (first == Qt::AscendingOrder) std::reverse(texts.begin(), texts.end());
  EXPECT_EQ(texts, sorted);
  EXPECT_EQ(window.ReceivedView->horizontalHeader()->sortIndicatorOrder(), model->Order());

  // The bytes of readings have no order: a click there leaves the order as it was.
  ClickHeader(window.RawView, 3);
  EXPECT_EQ(window.RawModel()->OrderColumn(), 0);
  EXPECT_EQ(window.RawView->horizontalHeader()->sortIndicatorSection(), 0);
}

TEST_F(ArchiveWindowTest, TimesAreLocalTheHeaderNamesTheZoneAndDaysAreLocal) {
  std::chrono::system_clock::time_point at{};
  archive.SetClock([&] { return at; });
  // 23:00 of the 8th and 01:30 of the 9th in a zone three hours ahead.
  const std::chrono::system_clock::time_point base =
      std::chrono::sys_days(std::chrono::year(2026) / 12 / 8);
  for (const auto minutes : {20 * 60, 22 * 60 + 30}) {
    at = base + std::chrono::minutes(minutes);
    ASSERT_TRUE(archive.StoreRawBytes("COM11", "x").ok());
  }
  ArchiveWindow window(archive, nullptr, QTimeZone(3 * 3600));
  ArchiveTableModel* raw = window.RawModel();
  EXPECT_EQ(raw->headerData(0, Qt::Horizontal).toString(), Q("Время (UTC+03:00)"));
  ASSERT_EQ(raw->rowCount(), 2);
  EXPECT_EQ(raw->Fields(0)[0], "2026-12-09 01:30:00");
  EXPECT_EQ(raw->Fields(1)[0], "2026-12-08 23:00:00");

  const QDate none = window.FromEdit->minimumDate();
  const struct {
    QDate from, to;
    int rows;
  } cases[] = {
      {QDate(2026, 12, 9), none, 1},
      {none, QDate(2026, 12, 8), 1},
      {QDate(2026, 12, 8), QDate(2026, 12, 9), 2},
      {QDate(2026, 12, 10), none, 0},
      {none, none, 2},
  };
  for (const auto& c : cases) {
    window.FromEdit->setDate(c.from);
    window.ToEdit->setDate(c.to);
    EXPECT_EQ(raw->rowCount(), c.rows)
        << c.from.toString().toStdString() << " " << c.to.toString().toStdString();
  }
  EXPECT_EQ(LocalTime("not a time", QTimeZone(3600)), Q("not a time"));
  archive::Query wrong;
  wrong.until = "вчера";
  std::vector<archive::RawRow> rows;
  EXPECT_EQ(archive.ListRawBytes(wrong, rows).reason, "дата «вчера» не понята");
}

TEST_F(ArchiveWindowTest, CtrlCCopiesTheSelectedRowsAsTheButtonDoes) {
  Fill(4);
  ArchiveWindow window(archive);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QTableView* view = window.ReceivedView;
  view->setFocus();
  view->selectRow(1);
  view->selectionModel()->select(view->model()->index(2, 0),
                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
  QApplication::clipboard()->clear();
  QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), window.SelectedRowsText());
  EXPECT_EQ(window.SelectedRowsText().count(QLatin1Char('\n')), 2);
}

TEST_F(ArchiveWindowTest, WhatADialogueWroteShowsKeepingTheSelection) {
  Fill(3);
  ArchiveWindow window(archive);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  ArchiveTableModel* model = window.ReceivedModel();
  window.ReceivedView->selectRow(1);
  const std::int64_t selected = model->Id(1);

  QSignalSpy resets(model, &QAbstractItemModel::modelReset);
  window.ReloadIfWritten();  // nothing written: nothing read
  EXPECT_EQ(resets.count(), 0);
  ASSERT_TRUE(archive.StoreReceived(Shown("+79160000000", "26/12/08,12:00:00", "новое")).ok());
  window.ReloadIfWritten();
  ASSERT_EQ(model->rowCount(), 4);
  EXPECT_EQ(Text(model, 0), "новое");
  const auto rows = window.ReceivedView->selectionModel()->selectedRows();
  ASSERT_EQ(rows.size(), 1);
  EXPECT_EQ(model->Id(rows[0].row()), selected);
}

TEST(ArchiveWindowPlace, BesideTheMainWindowOnTheScreen) {
  const QRect screen(0, 0, 1920, 1080);
  const QSize size(900, 600);
  const struct {
    QRect main;
    QPoint expected;
  } cases[] = {
      {{218, 161, 580, 400}, {806, 161}},   // room on the right
      {{1100, 100, 580, 400}, {192, 100}},  // room on the left only
      {{500, 700, 900, 400}, {1020, 480}},  // no room either side: at the right edge, on screen
  };
  for (const auto& c : cases) EXPECT_EQ(BesidePosition(c.main, size, screen), c.expected);
}

TEST_F(ArchiveWindowTest, ExportFailureIsToldInRussian) {
  ArchiveWindow window(archive);
  const QString path = QString::fromStdString((dir / "no" / "such.csv").string());
  EXPECT_FALSE(window.ExportTo(path));
  EXPECT_EQ(window.StatusLabel->text(),
            Q("Файл ") + path + Q(" не записан: нет такого файла или папки"));
}

}  // namespace
}  // namespace vestrel
