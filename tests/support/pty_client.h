// A client end of a serial line for tests: opens a device (a pty slave or a
// link to one) raw at 9600 8N1, as the program opens its port.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace vestrel::test {

class PtyClient {
 public:
  // Throws std::runtime_error when the device cannot be opened.
  explicit PtyClient(const std::string& path);
  ~PtyClient();
  PtyClient(const PtyClient&) = delete;
  PtyClient& operator=(const PtyClient&) = delete;

  void Write(std::string_view bytes);
  // Everything read until `needle` has arrived, or until the time is up.
  std::string ReadUntil(std::string_view needle,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Everything read until the answer ends: a final result code or the "> " prompt.
  std::string ReadAnswer(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Writes line + CR and reads the answer, echo included.
  std::string Command(std::string_view line,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Everything that arrives within the time.
  std::string ReadFor(std::chrono::milliseconds duration);
  // True once the other side has closed the line (the master went away).
  bool WaitHangup(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  void Close();
  int fd() const { return fd_; }

 private:
  // Reads what is there, waiting at most until deadline; false on a hang-up.
  bool ReadSome(std::chrono::steady_clock::time_point deadline);

  int fd_ = -1;
  std::string pending_;  // read but not yet handed out
};

// True when text ends with a final result code or the message prompt.
bool AnswerComplete(std::string_view text);

}  // namespace vestrel::test
