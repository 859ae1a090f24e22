#pragma once
// Helpers for the messaging tests: in-memory panes, fields and a scripted
// port, a port on a real pseudo-terminal, and the independent PDU decoder.

#include <algorithm>
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "messaging/messaging_io.h"

namespace vestrel::test {

// UTF-8 source text to the program's Windows-1251.
std::string W(const char* utf8);

class FakeField : public InputField {
 public:
  explicit FakeField(std::string initial = {}) : text(std::move(initial)) {}
  std::string Text() const override { return text; }
  std::string text;
};

// A port whose received bytes are queued by the test and whose writes are kept.
class FakePort : public ModemPort {
 public:
  void Open() override {
    ++opens;
    if (fail_open) throw std::runtime_error("open failed");
  }
  void WriteStr(const std::string& bytes) override {
    if (writes_left == 0) throw std::runtime_error("write failed");
    if (writes_left > 0) --writes_left;
    writes.push_back(bytes);
    if (on_write) on_write(bytes);
  }
  std::string ReadStr(int count) override {
    std::string out = pending.substr(0, static_cast<std::size_t>(count < 0 ? 0 : count));
    pending.erase(0, out.size());
    held -= std::min(held, out.size());
    return out;
  }
  // The queued bytes not held yet.
  std::string HoldArrived() override {
    std::string out = pending.substr(held);
    held = pending.size();
    return out;
  }

  int opens = 0;
  std::size_t held = 0;  // queued bytes a hold has taken
  bool fail_open = false;
  long writes_left = -1;  // negative: no limit
  std::vector<std::string> writes;
  std::string pending;
  std::function<void(const std::string&)> on_write;
};

// ModemPort over the slave side of a pseudo-terminal in raw mode; the test
// plays the modem on the master side.
class PtyPort : public ModemPort {
 public:
  PtyPort();
  ~PtyPort() override;
  void Open() override {}
  void WriteStr(const std::string& bytes) override;
  std::string ReadStr(int count) override;
  std::string HoldArrived() override;

  // The modem's side.
  void ModemSend(const std::string& bytes);
  // Everything the program has written so far.
  std::string ModemReceived();
  // Bytes waiting for the program.
  int Waiting();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string held_;
};

struct DecodedPdu {
  std::string number;  // as the decoder gives it, "+" included
  std::string text_utf8;
  bool ok = false;
  std::string error;
};

// Decodes SMS-SUBMIT PDUs (led by the service-centre octet) with python3-gammu.
std::vector<DecodedPdu> DecodeWithGammu(const std::vector<std::string>& pdus);

}  // namespace vestrel::test
