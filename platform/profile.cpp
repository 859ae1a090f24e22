#include "platform/profile.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/cp1251.h"
#include "platform/exceptions.h"
#include "platform/private_file.h"
#include "platform/text_case.h"
#include "platform/utf8.h"

namespace vestrel::platform {
namespace {

constexpr std::string_view kSpaces = " \t";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(kSpaces);
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(kSpaces);
  return s.substr(first, last - first + 1);
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return content;
}

// True when text is well-formed UTF-8 and holds at least one multi-byte
// sequence. Windows-1251 Cyrillic text is practically never well-formed UTF-8.
bool IsUtf8WithNonAscii(std::string_view text) {
  const bool non_ascii = std::any_of(text.begin(), text.end(),
                                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  return non_ascii && IsWellFormedUtf8(text);
}

// The file's text as Windows-1251.
std::string AsCp1251(std::string content) {
  if (content.starts_with(kUtf8Bom)) return Cp1251FromUtf8(std::string_view(content).substr(3));
  if (IsUtf8WithNonAscii(content)) return Cp1251FromUtf8(content);
  return content;
}

struct Line {
  std::string_view text;  // without the line end
  std::size_t begin = 0;  // offset of the line in the content
  std::size_t end = 0;    // offset just past the line end
};

std::vector<Line> SplitLines(std::string_view content) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  while (pos < content.size()) {
    auto nl = content.find('\n', pos);
    const std::size_t next = nl == std::string_view::npos ? content.size() : nl + 1;
    std::size_t stop = nl == std::string_view::npos ? content.size() : nl;
    if (stop > pos && content[stop - 1] == '\r') --stop;
    lines.push_back({content.substr(pos, stop - pos), pos, next});
    pos = next;
  }
  return lines;
}

std::optional<std::string_view> SectionName(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  const auto close = line.find(']');
  return Trim(line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
}

struct KeyLine {
  std::string_view key;
  std::string_view value;
};

std::optional<KeyLine> ParseKeyLine(std::string_view line) {
  const auto trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() == ';') return std::nullopt;
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return KeyLine{Trim(line.substr(0, eq)), Trim(line.substr(eq + 1))};
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

std::string Cut(std::string_view value) {
  return std::string(value.substr(0, std::min(value.size(), kProfileValueMax)));
}

// The file a path names once symbolic links are followed, whether it exists or
// not: an installed Pelmora.ini is a link to the administrator's copy under
// /etc, and writing must replace that copy, not the link.
std::filesystem::path FollowLinks(std::filesystem::path file) {
  std::error_code ec;
  for (int hops = 0; hops < 40 && std::filesystem::is_symlink(file, ec); ++hops) {
    const auto target = std::filesystem::read_symlink(file, ec);
    if (ec) break;
    file = target.is_absolute() ? target : file.parent_path() / target;
  }
  return file;
}

}  // namespace

std::string ReadProfileValue(const std::filesystem::path& file, std::string_view section,
                             std::string_view key, std::string_view default_value) {
  auto raw = ReadWholeFile(file);
  if (!raw) return Cut(default_value);
  const std::string content = AsCp1251(std::move(*raw));
  bool in_section = false;
  bool section_seen = false;
  for (const auto& line : SplitLines(content)) {
    if (auto name = SectionName(line.text)) {
      // Only the first section of that name counts.
      if (section_seen) break;
      in_section = Cp1251EqualNoCase(*name, section);
      section_seen = in_section;
      continue;
    }
    if (!in_section) continue;
    if (auto kv = ParseKeyLine(line.text); kv && Cp1251EqualNoCase(kv->key, key)) {
      return Cut(Unquote(kv->value));
    }
  }
  return Cut(default_value);
}

bool WriteProfileValue(const std::filesystem::path& file, std::string_view section,
                       std::string_view key, std::string_view value) {
  std::string content;
  std::error_code ec;
  if (std::filesystem::exists(file, ec)) {
    auto raw = ReadWholeFile(file);
    if (!raw) return false;
    content = AsCp1251(std::move(*raw));
  }
  const std::string key_line = std::string(key) + "=" + std::string(value) + "\r\n";
  const auto lines = SplitLines(content);

  std::optional<std::size_t> insert_at;  // just past the section's last non-empty line
  bool in_section = false;
  for (const auto& line : lines) {
    if (auto name = SectionName(line.text)) {
      if (in_section) break;
      in_section = Cp1251EqualNoCase(*name, section);
      if (in_section) insert_at = line.end;
      continue;
    }
    if (!in_section) continue;
    if (auto kv = ParseKeyLine(line.text); kv && Cp1251EqualNoCase(kv->key, key)) {
      content.replace(line.begin, line.end - line.begin, key_line);
      return ReplaceFileContents(FollowLinks(file), content);
    }
    if (!Trim(line.text).empty()) insert_at = line.end;
  }

  if (insert_at) {
    // The section's last line may lack a line end when it ends the file.
    std::string insertion = key_line;
    if (*insert_at > 0 && content[*insert_at - 1] != '\n') insertion = "\r\n" + insertion;
    content.insert(*insert_at, insertion);
  } else {
    if (!content.empty() && content.back() != '\n') content += "\r\n";
    content += "[" + std::string(section) + "]\r\n" + key_line;
  }
  return ReplaceFileContents(FollowLinks(file), content);
}

bool IniFile::Exists() const {
  std::error_code ec;
  return std::filesystem::is_regular_file(file_, ec);
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view default_value) const {
  return ReadProfileValue(file_, section, key, default_value);
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  if (!WriteProfileValue(file_, section, key, value)) {
    throw Exception(Cp1251FromUtf8("Не удаётся записать в файл " + file_.string()));
  }
}

}  // namespace vestrel::platform
