// The real main window with its port on a pty to the modem simulator: the
// fixture shared by the end-to-end tests.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "main_window/form_messaging.h"
#include "main_window/main_form.h"
#include "messaging/sms_submission.h"
#include "platform/cp1251.h"
#include "platform/exceptions.h"
#include "platform/qt_glue.h"
#include "station/settings.h"
#include "tests/messaging/sms/messaging_test_util.h"
#include "tests/support/golden.h"
#include "tests/support/modem_sim.h"
#include "tests/support/qt_environment.h"

namespace vestrel::e2e {

using test::W;
using namespace std::chrono_literals;
using test::ReadCommands;

// Handles events until pred holds or the time is up.
inline bool ServeUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 20s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}
inline void Serve(std::chrono::milliseconds time) {
  ServeUntil([] { return false; }, time);
}

inline std::string Message(const std::string& number, const std::string& time,
                           const char* text_utf8) {
  return W("№ тел: ") + number + W(" Дата и время отправки: ") + time + W(" Текст: ") +
         W(text_utf8);
}

inline std::string Joined(const std::vector<std::string>& lines, std::size_t from = 0,
                          const std::string& separator = "\r\n") {
  std::string out;
  for (std::size_t i = from; i < lines.size(); ++i) out += (i > from ? separator : "") + lines[i];
  return out;
}

class MessagingE2e : public test::ModemSimTest {
 protected:
  void SetUp() override {
    // The window stages received chunks in "tmp.sms" of the current directory;
    // tests run side by side, so each works in a folder of its own.
    previous_directory_ = std::filesystem::current_path();
    std::filesystem::current_path(folder_.path());
    previous_handler_ = platform::SetExceptionHandler(
        [this](std::exception_ptr e) { errors_.push_back(platform::ExceptionMessage(e)); });
  }
  void TearDown() override {
    form_.reset();
    platform::SetExceptionHandler(previous_handler_);
    std::filesystem::current_path(previous_directory_);
    test::ModemSimTest::TearDown();
  }

  // The window with its port on the simulator's line; every chunk's size is
  // recorded on its way to the window's handler. ini_lines: more lines of
  // [MODEM] (Windows-1251, each ending CR LF).
  TForm1& StartForm(MessagingDurations durations, const std::string& ini_lines = {}) {
    {
      std::ofstream ini(folder_.path() / station::kIniFileName, std::ios::binary);
      ini << "[MODEM]\r\n"
          << station::KeyName(station::IniKey::kPort) << "=" << sim().link() << "\r\n"
          << ini_lines;
    }
    TForm1::Options options;
    options.folder = folder_.path();
    options.durations = durations;
    options.archive_file =
        archive_file_.empty() ? folder_.path() / "archive.sqlite" : archive_file_;
    form_ = std::make_unique<TForm1>(options);
    EXPECT_TRUE(form_->BComPort1->Connected());
    form_->BComPort1->OnRxChar = [this](TBComPort* sender, int count) {
      counts_.push_back(count);
      form_->BComPort1RxChar(sender, count);
    };
    return *form_;
  }

  station::Station& Messaging() { return *form_->Messaging; }
  InboxReader& Inbox() { return form_->Messaging->inbox; }

  // Waits until everything the simulator sent has been handled.
  bool AllHandled() {
    std::size_t handled = 0;
    for (int c : counts_) handled += static_cast<std::size_t>(c);
    return handled == sim().Sent().size();
  }
  void Settle() {
    Serve(300ms);
    ASSERT_TRUE(ServeUntil([this] { return AllHandled(); }));
  }

  // The modem log is the chunks, newest first, and then the readable lines.
  // Checks the chunk part against what the simulator sent and returns the rest.
  std::string LinesPart() {
    const std::string sent = sim().Sent();
    std::vector<std::string> chunks;
    std::size_t at = 0;
    for (std::size_t i = 0; i < counts_.size(); ++i) {
      const int c = counts_[i];
      if (i < first_chunk_) {  // before the pane was emptied
        at += static_cast<std::size_t>(c);
        continue;
      }
      std::string chunk = sent.substr(at, static_cast<std::size_t>(c));
      at += static_cast<std::size_t>(c);
      if (!chunk.empty() && chunk.back() == '\r') chunk += '\n';
      chunks.push_back(chunk);
    }
    std::string top;
    for (auto it = chunks.rbegin(); it != chunks.rend(); ++it) top += *it;
    const std::string log = Messaging().modem_log.Text();
    EXPECT_EQ(log.substr(0, top.size()), top);
    // The pane shows the same text, each line break as one.
    QString shown = platform::ToQString(log);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    EXPECT_EQ(form_->Memo2->toPlainText(), shown);
    return log.size() >= top.size() ? log.substr(top.size()) : std::string();
  }

  // The lines part without its "Читаем СМС" lines, which come once per
  // staged chunk.
  static std::string WithoutReadingLines(std::string lines) {
    const std::string reading = W("\r\nЧитаем СМС");
    for (std::size_t p; (p = lines.find(reading)) != std::string::npos;)
      lines.erase(p, reading.size());
    return lines;
  }

  void ExpectReading(const std::string& scenario, int total,
                     const std::vector<std::string>& messages, int last_index) {
    StartSim(scenario);
    TForm1& form = StartForm({100, 300});
    form.Button4Click(nullptr);
    ASSERT_TRUE(ServeUntil([&] { return Inbox().SmsShown >= total; }));
    Settle();
    EXPECT_TRUE(errors_.empty()) << errors_.front();
    EXPECT_TRUE(sim().StoredMessages("ME").empty());
    EXPECT_EQ(sim().Commands(), ReadCommands(last_index));
    // The widget shows the command log's lines.
    EXPECT_EQ(platform::FromQString(form.Memo1->toPlainText()),
              Joined(ReadCommands(last_index), 1, "\n"));
    EXPECT_EQ(Messaging().command_log.Text(), Joined(ReadCommands(last_index), 1));
    const std::string lines = LinesPart();
    EXPECT_EQ(lines.rfind(W("\r\nУ Вас ") + std::to_string(total) + W(" СМС\r\nЧитаем СМС"), 0), 0u)
        << platform::Cp1251ToUtf8(lines);
    std::string expected = W("\r\nУ Вас ") + std::to_string(total) + W(" СМС");
    for (const auto& m : messages) expected += "\r\n" + m;
    EXPECT_EQ(WithoutReadingLines(lines), expected) << platform::Cp1251ToUtf8(lines);
  }

  test::TempDir folder_;
  std::filesystem::path previous_directory_;
  std::unique_ptr<TForm1> form_;
  std::vector<int> counts_;
  std::size_t first_chunk_ = 0;  // the first chunk after ReadSMS emptied the pane
  std::vector<std::string> errors_;
  platform::ExceptionHandler previous_handler_;
  std::filesystem::path archive_file_;  // empty: one in the test's folder
};

}  // namespace vestrel::e2e
