// What the Debian package asks for beside the program, and what the README
// tells the operator to install.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "shell_test_support.h"

namespace vestrel {
namespace {

TEST(Package, RecommendsTheOpenerOfTheHelpDocumentAndTheReadmeNamesIt) {
  // The package's settings as CPack reads them from the build folder.
  const std::string cpack = test::ReadFile(VESTREL_CPACK_CONFIG);
  ASSERT_FALSE(cpack.empty()) << VESTREL_CPACK_CONFIG;
  const std::string key = "set(CPACK_DEBIAN_PACKAGE_RECOMMENDS \"";
  const auto at = cpack.find(key);
  ASSERT_NE(at, std::string::npos) << "the package recommends nothing";
  const auto from = at + key.size();
  std::string recommends = cpack.substr(from, cpack.find('"', from) - from);
  for (char& c : recommends) c = c == ',' ? ' ' : c;
  EXPECT_NE((" " + recommends + " ").find(" xdg-utils "), std::string::npos) << recommends;

  const char* source = std::getenv("VESTREL_SOURCE_DIR");
  ASSERT_NE(source, nullptr) << "run through CTest";
  const std::string readme = test::ReadFile(std::filesystem::path(source) / "README.md");
  const auto start = readme.find("## Troubleshooting");
  ASSERT_NE(start, std::string::npos);
  const std::string troubleshooting = readme.substr(start, readme.find("\n## ", start + 1) - start);
  EXPECT_NE(troubleshooting.find("apt install xdg-utils"), std::string::npos);
  EXPECT_NE(troubleshooting.find("Подготовка к работе"), std::string::npos);
}

}  // namespace
}  // namespace vestrel
