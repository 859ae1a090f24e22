#include <gtest/gtest.h>

#include "platform/cp1251.h"
#include "platform/win32_ui.h"
#include "win32_window/form_messaging.h"

namespace vestrel::win32 {
namespace {

TEST(Win32Window, PaneBytesAsEditControlText) {
  const struct {
    const char* bytes;
    const wchar_t* shown;
  } rows[] = {
      {"", L""},
      {"OK\r\n", L"OK\r\n"},
      {"a\nb", L"a\r\nb"},
      {"a\rb", L"a\r\nb"},
      {"a\r\r\nb", L"a\r\n\r\nb"},
      {"\n\r", L"\r\n\r\n"},
      {"\xCF\xF0\xE8\xE2\xE5\xF2", L"\u041F\u0440\u0438\u0432\u0435\u0442"},  // Привет
  };
  for (const auto& row : rows) EXPECT_EQ(DisplayedText(row.bytes), row.shown) << row.bytes;
}

TEST(Win32Window, Cp1251ThroughUtf16AndBack) {
  std::string every;
  for (int c = 1; c < 256; ++c)
    if (c != 152) every.push_back(static_cast<char>(c));  // 152 has no character
  EXPECT_EQ(platform::Cp1251FromWide(platform::WideFromCp1251(every)), every);
  // What the code page lacks becomes '?', as everywhere in the program.
  EXPECT_EQ(platform::Cp1251FromWide(L"a\u4E2Db"), "a?b");
}

}  // namespace
}  // namespace vestrel::win32
