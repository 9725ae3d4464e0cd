// Feeds every file of the given directories (or the given files) to the fuzz
// entry point once: the stored corpus as a regression test without libFuzzer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

static bool Feed(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", file.c_str());
    return false;
  }
  std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(data.data(), data.size());
  return true;
}

int main(int argc, char** argv) {
  size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    if (fs::is_directory(argv[i], ec)) {
      for (const auto& entry : fs::directory_iterator(argv[i], ec)) {
        if (!entry.is_regular_file()) continue;
        if (!Feed(entry.path())) return 1;
        ++count;
      }
    } else {
      if (!Feed(argv[i])) return 1;
      ++count;
    }
  }
  std::printf("replayed %zu inputs\n", count);
  // An empty corpus means the regression test checks nothing.
  return count > 0 ? 0 : 1;
}
