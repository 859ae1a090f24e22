#include "platform/app_title.h"

#include "platform/cp1251.h"
#include "platform/text_case.h"

namespace vestrel {

std::string ApplicationTitle(const std::filesystem::path& executable) {
  std::string name = platform::Cp1251FromUtf8(executable.filename().string());
  if (const auto dot = name.find('.'); dot != std::string::npos) name.resize(dot);
  if (name.size() > 1) name = name.front() + platform::Cp1251LowerCase(name.substr(1));
  return name;
}

}  // namespace vestrel
