#pragma once
// The narrow views of the main window that the modem dialogues work through:
// the serial port, a log pane and an input field. The form supplies the real
// ones; tests supply in-memory ones or a port on a pseudo-terminal.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "messaging/log_text.h"
#include "platform/messages.h"

namespace vestrel {

class ModemPort {
 public:
  virtual ~ModemPort() = default;
  // Opens the port unless it is open already; throws when it cannot.
  virtual void Open() = 0;
  // Writes the bytes unchanged and returns once the device has taken them;
  // throws on failure.
  virtual void WriteStr(const std::string& bytes) = 0;
  // At most count bytes that have already arrived; never waits.
  virtual std::string ReadStr(int count) = 0;
  // From a handler of received bytes: takes the bytes that arrived since
  // into the port's hold without handing them over, and returns them. They
  // are still received: ReadStr returns them first, and they come as a chunk
  // after the handler has returned.
  virtual std::string HoldArrived() = 0;
};

class LogPane {
 public:
  virtual ~LogPane() = default;
  virtual std::string Text() const = 0;
  virtual void SetText(const std::string& text) = 0;
  // Appends one line (on a line of its own when the pane is not empty).
  virtual void AddLine(const std::string& line) = 0;
  // Puts bytes in front of the text, and after its end. A pane that only
  // grows at its ends can do this without rewriting what it already holds.
  virtual void Prepend(const std::string& bytes) { SetText(bytes + Text()); }
  virtual void Append(const std::string& bytes) { SetText(Text() + bytes); }
};

class InputField {
 public:
  virtual ~InputField() = default;
  virtual std::string Text() const = 0;
};

// A pane whose Windows-1251 bytes are kept here, exactly, and handed to a
// display after every change; the display never gives text back, so nothing
// is lost to a widget's own idea of line breaks or characters. A modem log
// grows at both ends all day long, so a change is handed over as just the
// bytes that changed when the display can take them that way.
class ShadowPane : public LogPane {
 public:
  using Show = std::function<void(const std::string& bytes)>;
  struct Display {
    Show reset;    // the whole text
    Show prepend;  // bytes put in front; empty: reset with the whole text
    Show append;   // bytes put at the end; empty: reset with the whole text
  };

  ShadowPane() = default;
  explicit ShadowPane(Show reset) { display_.reset = std::move(reset); }
  explicit ShadowPane(Display display) : display_(std::move(display)) {}

  std::string Text() const override { return text_.Text(); }
  void SetText(const std::string& text) override {
    text_.Assign(text);
    Reset();
  }
  void AddLine(const std::string& line) override { Append(Empty() ? line : "\r\n" + line); }
  void Prepend(const std::string& bytes) override {
    text_.Prepend(bytes);
    if (display_.prepend) {
      display_.prepend(bytes);
    } else {
      Reset();
    }
  }
  void Append(const std::string& bytes) override {
    text_.Append(bytes);
    if (display_.append) {
      display_.append(bytes);
    } else {
      Reset();
    }
  }
  // The bytes and their lines, for a display that reads what it shows.
  const LogText& Lines() const { return text_; }

 private:
  bool Empty() const { return text_.Size() == 0; }
  void Reset() {
    if (display_.reset) display_.reset(Text());
  }

  LogText text_;
  Display display_;
};

// Durations of the dialogues. Production uses the defaults; tests shorten them.
struct MessagingDurations {
  std::uint32_t modem_wait_ms = platform::kModemWaitMs;
  std::uint32_t pump_pause_ms = 20000;
  // How long past its modem wait the answer to a read is waited for before
  // the reading stops with the message left on the phone: a modem answers a
  // read within a second, a busy one within a few; ten is past any of them.
  std::uint32_t answer_wait_ms = 10000;

  // The blocking wait after a command; a wait of no time is no wait at all.
  void ModemWait(const platform::EventHandle& et) const {
    if (modem_wait_ms > 0) platform::ModemWait(et, modem_wait_ms);
  }
};

}  // namespace vestrel
