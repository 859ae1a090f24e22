// The libFuzzer entry of one target, chosen by VESTREL_FUZZ_TARGET.
#include "tests/fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return vestrel::fuzz::VESTREL_FUZZ_TARGET(data, size);
}
