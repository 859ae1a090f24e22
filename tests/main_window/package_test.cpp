// What the Debian package asks for beside the program, and what the README
// tells the operator to install.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "shell_test_support.h"

namespace vestrel {
namespace {

TEST(Package, RecommendsTheOpenerOfTheHelpDocumentAndTheReadmeNamesIt) {
  // The package's settings as CPack reads them from the build folder.
  const std::string cpack = test::ReadFile(VESTREL_CPACK_CONFIG);
  ASSERT_FALSE(cpack.empty()) << VESTREL_CPACK_CONFIG;
  std::smatch recommends;
  ASSERT_TRUE(std::regex_search(
      cpack, recommends, std::regex(R"re(set\(CPACK_DEBIAN_PACKAGE_RECOMMENDS "([^"]*)"\))re")))
      << "the package recommends nothing";
  EXPECT_TRUE(std::regex_search(recommends[1].str(), std::regex(R"((^|[ ,])xdg-utils($|[ ,]))")))
      << recommends[1];

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
