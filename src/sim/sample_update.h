// Sample update files for the demo, the tests and the benchmarks: every
// section filled with a recognisable pattern, section 4 starting with a date
// stamp, a headed directory with a block for the factory model ("T3K ").
#pragma once

#include <cstdint>
#include <vector>

#include "core/update/update_writer.h"

namespace orvane::sim {

inline constexpr uint32_t kSampleDateStamp = 1795132800;  // 2026-11-20
inline constexpr uint32_t kSampleModelKey = 0x204B3354;    // "T3K "

struct SampleSizes {
  uint32_t section0 = 8 * 1024;
  uint32_t block = 20 * 1024 + 100;  // the T3K block; not a multiple of a page
  uint32_t otherBlock = 12 * 1024;
  uint32_t reserved = 0x3000;
  uint32_t section2 = 128 * 1024 + 10;
  uint32_t section3 = 512 * 1024;
  uint32_t section4 = 512 * 1024 + 3;
  uint32_t section5 = 4 * 1024;
};

// The contents of a sample file; `brand` is the file's brand text (GBK bytes).
UpdateFileContents SampleUpdateContents(const SampleSizes& sizes, const std::vector<uint8_t>& brand);

// A pattern no two sections share, so a section written to the wrong place shows.
std::vector<uint8_t> SamplePattern(uint32_t length, uint8_t seed);

}  // namespace orvane::sim
