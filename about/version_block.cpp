#include "about/version_block.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "platform/exceptions.h"
#include "platform/utf8.h"

namespace vestrel {
namespace {

constexpr std::size_t kHeaderSize = 6;  // wLength, wValueLength, wType

std::size_t Align4(std::size_t n) {
  return (n + 3) & ~std::size_t{3};
}

void Put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t v) {
  out[at] = static_cast<std::uint8_t>(v);
  out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Append16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Append32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Append16(out, static_cast<std::uint16_t>(v));
  Append16(out, static_cast<std::uint16_t>(v >> 16));
}

void AppendText(std::vector<std::uint8_t>& out, const std::u16string& text) {
  for (char16_t c : text) Append16(out, c);
  Append16(out, 0);
}

void PadTo4(std::vector<std::uint8_t>& out) {
  out.resize(Align4(out.size()), 0);
}

std::uint16_t Get16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

[[noreturn]] void Fail(std::size_t line, const std::string& what) {
  throw platform::Exception("version description, line " + std::to_string(line) + ": " + what);
}

std::u16string Utf16FromUtf8(std::string_view s, std::size_t line) {
  auto utf16 = platform::Utf8ToUtf16(s);
  if (!utf16) Fail(line, "bad UTF-8");
  return *utf16;
}

std::u16string Ascii16(std::string_view s) {
  return std::u16string(s.begin(), s.end());
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

std::uint32_t ParseNumber(std::string_view s, std::uint32_t max, std::size_t line) {
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.remove_prefix(2);
    base = 16;
  }
  std::uint64_t v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (ec != std::errc() || end != s.data() + s.size() || s.empty() || v > max)
    Fail(line, "bad number \"" + std::string(s) + "\"");
  return static_cast<std::uint32_t>(v);
}

void ParseVersion(std::string_view s, std::uint16_t (&out)[4], std::size_t line) {
  for (int i = 0; i < 4; ++i) {
    const auto dot = i < 3 ? s.find('.') : std::string_view::npos;
    if (i < 3 && dot == std::string_view::npos) Fail(line, "a version has four numbers");
    out[i] = static_cast<std::uint16_t>(ParseNumber(s.substr(0, dot), 0xFFFF, line));
    if (i < 3) s.remove_prefix(dot + 1);
  }
}

// One parsed node of a block; end is where its wLength ends.
struct NodeView {
  std::size_t end = 0;
  std::uint16_t value_length = 0;
  bool text = false;
  std::u16string key;
  std::size_t value_at = 0;
  std::size_t value_bytes = 0;
  std::size_t children_at = 0;
};

std::optional<NodeView> ReadNode(std::span<const std::uint8_t> b, std::size_t at,
                                 std::size_t limit) {
  if (at + kHeaderSize > limit) return std::nullopt;
  NodeView n;
  const std::uint16_t length = Get16(b, at);
  n.value_length = Get16(b, at + 2);
  const std::uint16_t type = Get16(b, at + 4);
  if (length < kHeaderSize || at + length > limit || type > 1) return std::nullopt;
  n.end = at + length;
  n.text = type == 1;
  std::size_t p = at + kHeaderSize;
  for (;; p += 2) {
    if (p + 2 > n.end) return std::nullopt;  // key without its terminator
    const char16_t c = Get16(b, p);
    if (c == 0) break;
    n.key.push_back(c);
  }
  n.value_at = Align4(p + 2);
  n.value_bytes = n.text ? std::size_t{n.value_length} * 2 : n.value_length;
  if (n.value_bytes > 0 && n.value_at + n.value_bytes > n.end) return std::nullopt;
  n.children_at = Align4(n.value_at + n.value_bytes);
  return n;
}

bool KeyEquals(const std::u16string& key, std::string_view name) {
  if (key.size() != name.size()) return false;
  for (std::size_t i = 0; i < key.size(); ++i) {
    auto a = key[i];
    auto c = static_cast<unsigned char>(name[i]);
    if (a >= 'a' && a <= 'z') a -= 32;
    if (c >= 'a' && c <= 'z') c -= 32;
    if (a != c) return false;
  }
  return true;
}

}  // namespace

std::vector<std::uint8_t> SerializeVersionNode(const VersionNode& node) {
  std::vector<std::uint8_t> out(kHeaderSize, 0);
  AppendText(out, node.key);
  PadTo4(out);
  std::size_t value_length = 0;
  if (node.text) {
    if (node.value) {
      AppendText(out, *node.value);
      value_length = node.value->size() + 1;  // in characters, with the terminator
    }
  } else {
    out.insert(out.end(), node.binary.begin(), node.binary.end());
    value_length = node.binary.size();
  }
  for (const auto& child : node.children) {
    PadTo4(out);
    const auto bytes = SerializeVersionNode(child);
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  if (out.size() > 0xFFFF || value_length > 0xFFFF)
    throw platform::Exception("version block node too long");
  Put16(out, 0, static_cast<std::uint16_t>(out.size()));
  Put16(out, 2, static_cast<std::uint16_t>(value_length));
  Put16(out, 4, node.text ? 1 : 0);
  return out;
}

VersionDescription ParseVersionDescription(std::string_view text) {
  VersionDescription d;
  enum class Section { None, Fixed, Translations, Strings } section = Section::None;
  std::size_t line_no = 0;
  while (!text.empty()) {
    const auto nl = text.find('\n');
    const std::string_view raw = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    ++line_no;
    const std::string_view line = Trim(raw);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      if (line.back() != ']') Fail(line_no, "unclosed section");
      const auto name = Trim(line.substr(1, line.size() - 2));
      if (name == "fixed") {
        section = Section::Fixed;
      } else if (name == "translations") {
        section = Section::Translations;
      } else if (name.substr(0, 8) == "strings ") {
        section = Section::Strings;
        const auto key = Trim(name.substr(8));
        if (key.size() != 8) Fail(line_no, "a string table key has eight hexadecimal digits");
        d.string_tables.push_back({std::string(key), {}});
      } else {
        Fail(line_no, "unknown section [" + std::string(name) + "]");
      }
      continue;
    }
    if (section == Section::Translations) {
      const auto space = line.find_first_of(" \t");
      if (space == std::string_view::npos)
        Fail(line_no, "a translation is a language and a code page");
      d.translations.emplace_back(
          static_cast<std::uint16_t>(ParseNumber(Trim(line.substr(0, space)), 0xFFFF, line_no)),
          static_cast<std::uint16_t>(ParseNumber(Trim(line.substr(space)), 0xFFFF, line_no)));
      continue;
    }
    const auto eq = line.find('=');
    if (eq == std::string_view::npos || section == Section::None)
      Fail(line_no, "expected Name = value");
    const std::string name(Trim(line.substr(0, eq)));
    const std::string_view value = Trim(line.substr(eq + 1));
    if (section == Section::Strings) {
      Utf16FromUtf8(name, line_no);  // both go into the block as UTF-16
      Utf16FromUtf8(value, line_no);
      d.string_tables.back().strings.emplace_back(name, std::string(value));
      continue;
    }
    auto& f = d.fixed;
    if (name == "FileVersion")
      ParseVersion(value, f.file_version, line_no);
    else if (name == "ProductVersion")
      ParseVersion(value, f.product_version, line_no);
    else if (name == "FileFlagsMask")
      f.flags_mask = ParseNumber(value, 0xFFFFFFFF, line_no);
    else if (name == "FileFlags")
      f.flags = ParseNumber(value, 0xFFFFFFFF, line_no);
    else if (name == "FileOS")
      f.os = ParseNumber(value, 0xFFFFFFFF, line_no);
    else if (name == "FileType")
      f.type = ParseNumber(value, 0xFFFFFFFF, line_no);
    else if (name == "FileSubtype")
      f.subtype = ParseNumber(value, 0xFFFFFFFF, line_no);
    else
      Fail(line_no, "unknown fixed field " + name);
  }
  return d;
}

VersionNode VersionTree(const VersionDescription& d) {
  VersionNode root;
  root.key = u"VS_VERSION_INFO";
  const auto& f = d.fixed;
  auto& v = root.binary;
  Append32(v, kFixedFileInfoSignature);
  Append32(v, kFixedFileInfoStrucVersion);
  Append32(v, std::uint32_t{f.file_version[0]} << 16 | f.file_version[1]);
  Append32(v, std::uint32_t{f.file_version[2]} << 16 | f.file_version[3]);
  Append32(v, std::uint32_t{f.product_version[0]} << 16 | f.product_version[1]);
  Append32(v, std::uint32_t{f.product_version[2]} << 16 | f.product_version[3]);
  Append32(v, f.flags_mask);
  Append32(v, f.flags);
  Append32(v, f.os);
  Append32(v, f.type);
  Append32(v, f.subtype);
  Append32(v, 0);  // file date, most and least significant halves: none
  Append32(v, 0);

  if (!d.string_tables.empty()) {
    VersionNode string_info;
    string_info.key = u"StringFileInfo";
    string_info.text = true;
    for (const auto& table : d.string_tables) {
      VersionNode t;
      t.key = Ascii16(table.key);
      t.text = true;
      for (const auto& [name, value] : table.strings)
        t.children.push_back(
            VersionNode{Utf16FromUtf8(name, 0), true, {}, Utf16FromUtf8(value, 0), {}});
      string_info.children.push_back(std::move(t));
    }
    root.children.push_back(std::move(string_info));
  }
  if (!d.translations.empty()) {
    VersionNode var_info;
    var_info.key = u"VarFileInfo";
    var_info.text = true;
    VersionNode translation;
    translation.key = u"Translation";
    for (const auto& [language, code_page] : d.translations) {
      Append16(translation.binary, language);
      Append16(translation.binary, code_page);
    }
    var_info.children.push_back(std::move(translation));
    root.children.push_back(std::move(var_info));
  }
  return root;
}

std::vector<std::uint8_t> BuildVersionBlock(const VersionDescription& description) {
  return SerializeVersionNode(VersionTree(description));
}

std::optional<VersionValue> QueryVersionValue(std::span<const std::uint8_t> block,
                                              std::string_view path) {
  auto node = ReadNode(block, 0, block.size());
  if (!node || !KeyEquals(node->key, "VS_VERSION_INFO")) return std::nullopt;
  while (!path.empty()) {
    const auto sep = path.find('\\');
    const std::string_view name = path.substr(0, sep);
    path.remove_prefix(sep == std::string_view::npos ? path.size() : sep + 1);
    if (name.empty()) continue;
    std::optional<NodeView> found;
    for (std::size_t at = node->children_at; at + kHeaderSize <= node->end;) {
      const auto child = ReadNode(block, at, node->end);
      if (!child) return std::nullopt;
      if (KeyEquals(child->key, name)) {
        found = child;
        break;
      }
      at = Align4(child->end);
    }
    if (!found) return std::nullopt;
    node = found;
  }
  VersionValue value;
  value.text = node->text;
  const auto bytes = block.subspan(node->value_at, node->value_bytes);
  if (node->text) {
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      const char16_t c = Get16(bytes, i);
      if (c == 0) break;
      value.value.push_back(c);
    }
  } else {
    value.binary.assign(bytes.begin(), bytes.end());
  }
  return value;
}

}  // namespace vestrel
