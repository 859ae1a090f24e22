#pragma once
// A whole file's bytes, read and written as they are.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace vestrel::test {

inline std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << bytes;
}

}  // namespace vestrel::test
