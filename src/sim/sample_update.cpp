#include "sim/sample_update.h"

#include "core/util/bytes.h"

namespace orvane::sim {

std::vector<uint8_t> SamplePattern(uint32_t length, uint8_t seed) {
  std::vector<uint8_t> v(length);
  uint32_t x = 0x9E3779B9u * (seed + 1u);
  for (uint32_t i = 0; i < length; ++i) {
    x = x * 1664525u + 1013904223u;
    v[i] = uint8_t(x >> 24);
  }
  return v;
}

UpdateFileContents SampleUpdateContents(const SampleSizes& sizes, const std::vector<uint8_t>& brand) {
  UpdateFileContents contents;
  contents.form = TrailerForm::Form520;
  contents.version = 3;
  contents.brand = brand;
  contents.sections[0] = SamplePattern(sizes.section0, 0);
  contents.sections[2] = SamplePattern(sizes.section2, 2);
  contents.sections[3] = SamplePattern(sizes.section3, 3);
  contents.sections[4] = SamplePattern(sizes.section4, 4);
  if (contents.sections[4].size() >= 4) StoreLE32At(contents.sections[4].data(), kSampleDateStamp);
  contents.sections[5] = SamplePattern(sizes.section5, 5);
  contents.directoryKind = kDirectoryHeaded;
  contents.blocks.push_back({0x204F5658 /* "XVO " */, SamplePattern(sizes.otherBlock, 11), 0x1000});
  contents.blocks.push_back({kSampleModelKey, SamplePattern(sizes.block, 1), sizes.reserved});
  return contents;
}

}  // namespace orvane::sim
