#include <windows.h>

#include <string>

#include "archive/archive_files.h"
#include "archive/archive_path.h"
#include "platform/utf8.h"

namespace vestrel::archive {
namespace files {
namespace {

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size,
                        nullptr, nullptr);
  return text;
}

std::optional<std::wstring> WideEnvironment(const wchar_t* name) {
  const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (size <= 1) return std::nullopt;
  std::wstring value(size, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(name, value.data(), size);
  if (length == 0 || length >= size) return std::nullopt;
  value.resize(length);
  return value;
}

// The system's own words for an error, without the line break it ends with.
std::string Describe(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = length && buffer ? std::wstring(buffer, length) : std::wstring();
  if (buffer) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
    text.pop_back();
  if (text.empty()) return "error " + std::to_string(error);
  return Utf8(text);
}

Prepared Failed(Problem problem, const std::filesystem::path& where, DWORD error) {
  return {problem, where, Describe(error)};
}

bool IsNoSpace(DWORD error) {
  return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

bool IsDenied(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT ||
         error == ERROR_SHARING_VIOLATION;
}

// Every missing folder on the way. A new folder under the user's profile
// inherits the profile's owner-only permissions.
Prepared MakeFolders(const std::filesystem::path& folder) {
  std::filesystem::path sofar;
  for (const auto& part : folder) {
    sofar /= part;
    if (!sofar.has_relative_path()) continue;  // "C:\" or "\\server\share\"
    if (::CreateDirectoryW(sofar.c_str(), nullptr)) continue;
    const DWORD error = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(sofar.c_str());
    if (error == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY))
      continue;
    if (IsNoSpace(error)) return Failed(Problem::kNoSpace, sofar, error);
    return Failed(Problem::kFolderNotCreatable, sofar,
                  error == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : error);
  }
  return {};
}

bool IsLink(const std::filesystem::path& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

std::optional<std::string> Environment(const char* name) {
  std::wstring wide_name;
  for (const char* c = name; *c; ++c) wide_name.push_back(static_cast<wchar_t>(*c));
  const auto value = WideEnvironment(wide_name.c_str());
  if (!value) return std::nullopt;
  return Utf8(*value);
}

std::optional<std::filesystem::path> HomeFolder() {
  if (auto profile = WideEnvironment(L"USERPROFILE")) return std::filesystem::path(*profile);
  auto drive = WideEnvironment(L"HOMEDRIVE");
  auto path = WideEnvironment(L"HOMEPATH");
  if (drive && path) return std::filesystem::path(*drive + *path);
  return std::nullopt;
}

Prepared PrepareFile(const std::filesystem::path& file) {
  std::filesystem::path folder = file.parent_path();
  if (folder.empty()) folder = ".";
  if (Prepared made = MakeFolders(folder); made.problem != Problem::kNone) return made;
  // A symbolic link or a junction: the archive's files never go through one.
  if (IsLink(folder)) return Failed(Problem::kLink, folder, ERROR_CANT_ACCESS_FILE);
  if (IsLink(file)) return Failed(Problem::kLink, file, ERROR_CANT_ACCESS_FILE);
  for (const char* suffix : kJournalSuffixes) {
    const std::filesystem::path journal = file.native() + std::filesystem::path(suffix).native();
    if (IsLink(journal)) return Failed(Problem::kLink, journal, ERROR_CANT_ACCESS_FILE);
  }

  // A link or junction under the name is not followed to make a file elsewhere.
  HANDLE handle =
      ::CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    ::CloseHandle(handle);
    return {};
  }
  DWORD error = ::GetLastError();
  if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
    // Shared as SQLite shares it, so that another copy of the program that has
    // it open does not make it look read-only.
    handle = ::CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      ::CloseHandle(handle);
      return {};
    }
    error = ::GetLastError();
    if (IsDenied(error)) return Failed(Problem::kFileReadOnly, file, error);
    return Failed(Problem::kOther, file, error);
  }
  if (IsDenied(error)) return Failed(Problem::kFolderReadOnly, folder, error);
  if (IsNoSpace(error)) return Failed(Problem::kNoSpace, folder, error);
  if (error == ERROR_PATH_NOT_FOUND) return Failed(Problem::kFolderNotCreatable, folder, error);
  return Failed(Problem::kOther, file, error);
}

}  // namespace files

std::filesystem::path DefaultArchivePath() {
  // Where Windows keeps a user's data that does not roam between machines.
  std::filesystem::path data;
  if (auto local = files::Environment("LOCALAPPDATA")) {
    data = platform::PathFromUtf8(*local);
  } else {
    data = files::HomeFolder().value_or(std::filesystem::path(L"C:\\")) / "AppData" / "Local";
  }
  return data / kArchiveFolderName / kArchiveFileName;
}

std::string DefaultArchivePathHelp() {
  return "%LOCALAPPDATA%\\vestrel\\archive.sqlite";
}

}  // namespace vestrel::archive
