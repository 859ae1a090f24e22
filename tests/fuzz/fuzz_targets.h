#pragma once
// The fuzzed entry points of the messaging logic. Each checks what must hold
// for any input and aborts when it does not; libFuzzer calls them through
// fuzz_entry.cpp, and the corpus replay tests call them directly.

#include <cstddef>
#include <cstdint>

namespace vestrel::fuzz {

int Ucs2HexToTextTarget(const std::uint8_t* data, std::size_t size);
int CountParserTarget(const std::uint8_t* data, std::size_t size);
int StagingParserTarget(const std::uint8_t* data, std::size_t size);
int ChunkHandlerTarget(const std::uint8_t* data, std::size_t size);
int DeliverPduTarget(const std::uint8_t* data, std::size_t size);
int SmsPartsTarget(const std::uint8_t* data, std::size_t size);

}  // namespace vestrel::fuzz
