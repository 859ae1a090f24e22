#include <windows.h>
// After <windows.h>:
#include <setupapi.h>

#include <algorithm>
#include <cwctype>
#include <map>
#include <string>

#include "cli/help_text.h"
#include "cli/serial_ports.h"

namespace vestrel::cli {
namespace {

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size,
                        nullptr, nullptr);
  return utf8;
}

// The number of "COMn" (any letter case), or 0 for another name.
unsigned long PortNumber(const std::wstring& name) {
  if (name.size() < 4 || name.size() > 6 || ::_wcsnicmp(name.c_str(), L"COM", 3) != 0) return 0;
  unsigned long n = 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (!std::iswdigit(name[i])) return 0;
    n = n * 10 + static_cast<unsigned long>(name[i] - L'0');
  }
  return n;
}

// The ports the serial drivers have announced: HKLM\HARDWARE\DEVICEMAP\SERIALCOMM
// holds one value per port, named after the device, with the port's name.
void AddAnnounced(std::map<unsigned long, std::wstring>& ports) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS)
    return;
  for (DWORD i = 0;; ++i) {
    wchar_t device[256];
    DWORD device_length = 256;
    wchar_t port[64] = {};
    DWORD port_bytes = sizeof port - sizeof(wchar_t);
    DWORD type = 0;
    const LONG status = ::RegEnumValueW(key, i, device, &device_length, nullptr, &type,
                                        reinterpret_cast<BYTE*>(port), &port_bytes);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS || type != REG_SZ) continue;
    const std::wstring name(port, wcsnlen(port, port_bytes / sizeof(wchar_t)));
    if (const unsigned long n = PortNumber(name)) ports.emplace(n, L"COM" + std::to_wstring(n));
  }
  ::RegCloseKey(key);
}

// Every COMn the system's device names hold (a port that a driver made without
// announcing it, or one a wine prefix links to a Unix device).
void AddDosDevices(std::map<unsigned long, std::wstring>& ports) {
  std::wstring names(65536, L'\0');
  DWORD length = 0;
  while ((length = ::QueryDosDeviceW(nullptr, names.data(), static_cast<DWORD>(names.size()))) ==
             0 &&
         ::GetLastError() == ERROR_INSUFFICIENT_BUFFER && names.size() < (1u << 24))
    names.resize(names.size() * 2);
  for (std::size_t at = 0; at < length && names[at];) {
    const std::wstring name(names.c_str() + at);
    at += name.size() + 1;
    if (const unsigned long n = PortNumber(name)) ports.emplace(n, L"COM" + std::to_wstring(n));
  }
}

// The friendly names of the Ports class's present devices, by port number:
// the name the device manager shows, which tells a USB modem's modem port
// from its diagnostics port.
std::map<unsigned long, std::wstring> FriendlyNames() {
  // GUID_DEVCLASS_PORTS, spelt out: no GUID library to link.
  static const GUID kPortsClass = {
      0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
  std::map<unsigned long, std::wstring> names;
  const HDEVINFO set = ::SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return names;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    const HKEY key =
        ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (key == INVALID_HANDLE_VALUE) continue;
    wchar_t port[64] = {};
    DWORD port_bytes = sizeof port - sizeof(wchar_t);
    DWORD type = 0;
    const bool named =
        ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(port),
                           &port_bytes) == ERROR_SUCCESS &&
        type == REG_SZ;
    ::RegCloseKey(key);
    wchar_t friendly[256] = {};
    if (!named || !::SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, nullptr,
                                                       reinterpret_cast<BYTE*>(friendly),
                                                       sizeof friendly - sizeof(wchar_t), nullptr))
      continue;
    if (const unsigned long n = PortNumber(port)) names[n] = friendly;
  }
  ::SetupDiDestroyDeviceInfoList(set);
  return names;
}

}  // namespace

std::vector<SerialDeviceEntry> ListSerialDevices() {
  std::map<unsigned long, std::wstring> ports;  // by number: COM2 before COM10
  AddAnnounced(ports);
  AddDosDevices(ports);
  const std::map<unsigned long, std::wstring> friendly = FriendlyNames();
  std::vector<SerialDeviceEntry> found;
  for (const auto& [number, name] : ports) {
    std::wstring target(1024, L'\0');
    const DWORD length =
        ::QueryDosDeviceW(name.c_str(), target.data(), static_cast<DWORD>(target.size()));
    target.resize(length ? wcsnlen(target.c_str(), length) : 0);
    const auto description = friendly.find(number);
    found.push_back({Utf8(name), Utf8(target),
                     description == friendly.end() ? std::string() : Utf8(description->second)});
  }
  return found;
}

const char* PortsCommandHelp() {
  return R"(  ports               list the COM ports present, each with the device it
                      names and the name the device manager gives it
  ports --probe [PORT...]
                      ask those ports (or the ports named) whether a modem
                      answers, and what it says it is
)";
}

const char* PortOptionHelp() {
  return R"(  --port NAME         the modem's port: COMn. Default: the variable
                      VESTREL_PORT, else the "{ini:port}" key of section {ini:section}
                      in the user's vestrel-sms.ini, else in {ini:file}
                      beside this program, else {ini:port-default}
)";
}

const char* PortExample() {
  return "COM3";
}

}  // namespace vestrel::cli
