// Build-time tool: writes C++ sources that carry bytes into the executable.
//   vestrel_embed version <description> <out.cpp>
//       the version block made from a version description, in its own section
//   vestrel_embed bytes <file> <out.cpp> <name>
//       the file's bytes as vestrel::<name> and vestrel::<name>Size

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "about/file_version.h"
#include "about/version_block.h"
#include "platform/exceptions.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw vestrel::platform::Exception("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string ByteList(const std::vector<std::uint8_t>& bytes) {
  std::ostringstream out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out << (i % 16 == 0 ? "\n   " : "") << ' ' << static_cast<unsigned>(bytes[i]) << ',';
  }
  return out.str();
}

// Written only when different, so that an unchanged input rebuilds nothing.
void WriteIfChanged(const std::string& path, const std::string& text) {
  {
    std::ifstream in(path, std::ios::binary);
    if (in && std::string(std::istreambuf_iterator<char>(in), {}) == text) return;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) throw vestrel::platform::Exception("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "version") {
      const auto block =
          vestrel::BuildVersionBlock(vestrel::ParseVersionDescription(ReadAll(args[1])));
      std::ostringstream out;
      out << "// Made by vestrel_embed from " << args[1] << ".\n"
          << "// The version block: its own section, kept by the compiler and the linker\n"
          << "// although nothing in the program refers to it.\n"
          << "extern \"C\" {\n"
          << "__attribute__((section(\"" << vestrel::kVersionSection
          << "\"), used, retain, aligned(4)))\n"
          << "extern const unsigned char vestrel_version_block[" << block.size() << "] = {"
          << ByteList(block) << "\n};\n}\n";
      WriteIfChanged(args[2], out.str());
      return 0;
    }
    if (args.size() == 4 && args[0] == "bytes") {
      const std::string data = ReadAll(args[1]);
      const std::vector<std::uint8_t> bytes(data.begin(), data.end());
      std::ostringstream out;
      out << "// Made by vestrel_embed from " << args[1] << ".\n"
          << "#include <cstddef>\n\nnamespace vestrel {\n"
          << "extern const unsigned char " << args[3] << "[" << bytes.size() << "] = {"
          << ByteList(bytes) << "\n};\n"
          << "extern const std::size_t " << args[3] << "Size = " << bytes.size() << ";\n"
          << "}  // namespace vestrel\n";
      WriteIfChanged(args[2], out.str());
      return 0;
    }
    std::cerr << "usage: vestrel_embed version <description> <out.cpp>\n"
                 "       vestrel_embed bytes <file> <out.cpp> <name>\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "vestrel_embed: " << e.what() << '\n';
    return 1;
  }
}
