// Writes a sample update file: make-sample FILE [SCALE]. SCALE multiplies
// the section sizes of the demo sample (1 by default; 16 gives ~8 MiB).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/brands.h"
#include "sim/sample_update.h"

using namespace orvane;

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: make-sample FILE [SCALE]\n");
    return 2;
  }
  const int scale = argc == 3 ? std::atoi(argv[2]) : 1;
  if (scale < 1 || scale > 64) {
    std::fprintf(stderr, "make-sample: SCALE must be 1..64\n");
    return 2;
  }
  sim::SampleSizes sizes;
  sizes.section2 *= scale;
  sizes.section3 *= scale;
  sizes.section4 *= scale;
  sizes.section5 *= scale;
  const std::string_view brand = brands::kBuildBrand;
  const UpdateFileSpec spec = sim::SampleUpdateSpec(sizes, std::vector<uint8_t>(brand.begin(), brand.end()));
  std::string error;
  const auto bytes = BuildUpdateFile(spec, &error);
  if (!bytes) {
    std::fprintf(stderr, "make-sample: %s\n", error.c_str());
    return 1;
  }
  FILE* f = std::fopen(argv[1], "wb");
  if (!f || std::fwrite(bytes->data(), 1, bytes->size(), f) != bytes->size() || std::fclose(f) != 0) {
    std::fprintf(stderr, "make-sample: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
