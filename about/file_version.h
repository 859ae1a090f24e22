#pragma once
// The version block of an executable: the bytes of its ".vestrel_version"
// section, laid out as a VS_VERSIONINFO resource (about/version_block.h).

#include <cstdint>
#include <string>

namespace vestrel {

inline constexpr char kVersionSection[] = ".vestrel_version";

// Size in bytes of the file's version block; 0 when it has none, or one too
// large to be a block (more than 65535 bytes).
std::uint32_t ReadVersionInfoSize(const std::string& path);

// Reads at most size bytes of the file's version block into data. False when
// the file has no block or it cannot be read.
bool ReadVersionInfo(const std::string& path, std::uint32_t size, std::uint8_t* data);

// The "FileVersion" string of the file's version block, from the first entry of
// its translation list that has a string table with one; empty when the file,
// the block, the list or every such string is missing. Windows-1251 text.
std::string ReadFileVersion(const std::string& path);

}  // namespace vestrel
