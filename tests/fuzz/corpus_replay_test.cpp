// Replays the saved corpus of each fuzz target named in VESTREL_REPLAY_TARGETS
// through the target's checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_targets.h"

namespace vestrel::fuzz {
namespace {

namespace fs = std::filesystem;

using Target = int (*)(const std::uint8_t*, std::size_t);

void Replay(const std::string& name, Target target) {
  const fs::path dir = fs::path(VESTREL_FUZZ_CORPUS_DIR) / name;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), 3u) << dir;
  for (const auto& file : files) {
    SCOPED_TRACE(file.string());
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(target(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0);
  }
}

#ifdef VESTREL_REPLAY_CODEC
TEST(FuzzCorpus, Ucs2HexToText) {
  Replay("ucs2_hex_to_text", Ucs2HexToTextTarget);
}
TEST(FuzzCorpus, DeliverPdu) {
  Replay("deliver_pdu", DeliverPduTarget);
}
TEST(FuzzCorpus, SmsParts) {
  Replay("sms_parts", SmsPartsTarget);
}
#endif
#ifdef VESTREL_REPLAY_INBOX
TEST(FuzzCorpus, CountParser) {
  Replay("count_parser", CountParserTarget);
}
TEST(FuzzCorpus, StagingParser) {
  Replay("staging_parser", StagingParserTarget);
}
TEST(FuzzCorpus, ChunkHandler) {
  Replay("chunk_handler", ChunkHandlerTarget);
}
#endif

}  // namespace
}  // namespace vestrel::fuzz
