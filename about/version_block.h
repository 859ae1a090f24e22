#pragma once
// The version block in the layout of a Windows VS_VERSIONINFO resource: a tree
// of nodes, each a 16-bit total length, a 16-bit value length, a 16-bit type
// (0 binary, 1 text), a zero-terminated UTF-16LE key, then the value and the
// children, each of these starting on a 32-bit boundary.
//
// The root "VS_VERSION_INFO" holds the fixed file information (VS_FIXEDFILEINFO)
// and the children "StringFileInfo" (string tables keyed by language and code
// page, e.g. "041904E3") and "VarFileInfo" (the "Translation" list).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vestrel {

inline constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
inline constexpr std::uint32_t kFixedFileInfoStrucVersion = 0x00010000;
inline constexpr std::size_t kFixedFileInfoSize = 52;

struct VersionNode {
  std::u16string key;
  bool text = false;                    // wType 1: the value is text
  std::vector<std::uint8_t> binary;     // the value of a binary node
  std::optional<std::u16string> value;  // the value of a text node, without its terminator
  std::vector<VersionNode> children;
};

// The bytes of a node and its children. Throws platform::Exception when a node
// would exceed the 16-bit length.
std::vector<std::uint8_t> SerializeVersionNode(const VersionNode& node);

// What a version description says (resources/version/*.version).
struct VersionDescription {
  struct Fixed {
    std::uint16_t file_version[4] = {};
    std::uint16_t product_version[4] = {};
    std::uint32_t flags_mask = 0, flags = 0, os = 0, type = 0, subtype = 0;
  } fixed;
  std::vector<std::pair<std::uint16_t, std::uint16_t>> translations;  // language, code page
  struct StringTable {
    std::string key;                                           // e.g. "041904E3"
    std::vector<std::pair<std::string, std::string>> strings;  // UTF-8 name, value
  };
  std::vector<StringTable> string_tables;
};

// Parses the description: "[fixed]" with Name = value lines, "[translations]"
// with "language codepage" lines, "[strings KEY]" with Name = value lines (UTF-8);
// "#" starts a comment line. Throws platform::Exception naming the line.
VersionDescription ParseVersionDescription(std::string_view text);

VersionNode VersionTree(const VersionDescription& description);
std::vector<std::uint8_t> BuildVersionBlock(const VersionDescription& description);

// A value found in a block: the bytes of a binary value, or the UTF-16 units
// of a text value up to its terminator.
struct VersionValue {
  bool text = false;
  std::vector<std::uint8_t> binary;
  std::u16string value;
};

// Looks a value up the way VerQueryValue does: the path's components are keys
// from the root down, separated by "\" (empty components are skipped, so a
// leading "\" is optional); keys compare without regard to ASCII case; "\"
// alone is the root's own value. Nothing when the path is not there or the
// block is malformed or cut short along the way.
std::optional<VersionValue> QueryVersionValue(std::span<const std::uint8_t> block,
                                              std::string_view path);

}  // namespace vestrel
