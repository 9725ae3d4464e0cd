// Writes a sample update file: make-sample FILE [SCALE] [--without N]...
// SCALE multiplies the sizes of sections 2 to 5 of the demo sample (1 by
// default); --without N leaves section N (0, 2, 3, 4 or 5) out.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/brands.h"
#include "sim/sample_update.h"

using namespace orvane;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make-sample FILE [SCALE] [--without N]...\n");
    return 2;
  }
  int scale = 1;
  std::vector<int> without;
  for (int i = 2; i < argc; ++i) {
    if (std::string(argv[i]) == "--without" && i + 1 < argc)
      without.push_back(std::atoi(argv[++i]));
    else
      scale = std::atoi(argv[i]);
  }
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
  UpdateFileContents contents = sim::SampleUpdateContents(sizes, std::vector<uint8_t>(brand.begin(), brand.end()));
  for (int n : without)
    if (n >= 0 && n < int(kUpdateSections) && n != 1) contents.sections[size_t(n)].clear();
  std::string error;
  const auto bytes = BuildUpdateFile(contents, &error);
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
