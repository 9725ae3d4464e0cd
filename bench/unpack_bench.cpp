// Unpacking a 64 MiB zip (96 MiB unpacked): the built-in extractor against `7zz x` (when
// installed) on the same archive in the same run. Each is timed three times
// into a fresh folder; the best run counts.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "core/update/archivers.h"
#include "core/update/file_helpers.h"
#include "sim/sample_archive.h"

using namespace orvane;

namespace {

// Update-like contents: two thirds noise (as compressed map data is), one
// third table-like records that deflate well, in 64 KiB stretches.
std::string Contents(size_t length, uint32_t seed) {
  std::string out(length, '\0');
  std::mt19937 rng(seed);
  for (size_t at = 0, block = 0; at < length; at += 1 << 16, ++block) {
    const size_t n = std::min<size_t>(1 << 16, length - at);
    if (block % 3 == 2) {
      for (size_t i = 0; i < n; ++i) out[at + i] = char((i % 251) ^ ((at >> 16) & 0x0F));
    } else {
      for (size_t i = 0; i < n; i += 4) {
        const uint32_t v = rng();
        for (size_t k = 0; k < 4 && i + k < n; ++k) out[at + i + k] = char(v >> (8 * k));
      }
    }
  }
  return out;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

template <typename Run>
double Best(const std::string& dest, Run run) {
  double best = 1e9;
  for (int i = 0; i < 3; ++i) {
    DeleteTree(dest);
    ::mkdir(dest.c_str(), 0700);
    const auto start = std::chrono::steady_clock::now();
    if (!run()) return -1;
    best = std::min(best, Seconds(std::chrono::steady_clock::now() - start));
  }
  return best;
}

}  // namespace

int main() {
  const char* tmp = std::getenv("TMPDIR");
  std::string root = std::string(tmp && *tmp ? tmp : "/tmp") + "/orvane-unpack-XXXXXX";
  if (!::mkdtemp(root.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string archive = root + "/bench.zip", dest = root + "/TmpTmp";

  std::vector<sim::ArchiveItem> items;
  uint64_t unpacked = 0;
  for (uint32_t i = 0; i < 4; ++i) {
    items.push_back(sim::FileItem("data/part" + std::to_string(i) + ".bin", Contents(24u << 20, i + 1)));
    unpacked += items.back().data.size();
  }
  items.push_back(sim::FileItem("data/update.qzv", Contents(1 << 20, 9)));
  unpacked += 1 << 20;
  std::string error;
  if (!sim::WriteArchive(archive, items, &error)) {
    std::fprintf(stderr, "bench_unpack: %s\n", error.c_str());
    return 1;
  }
  items.clear();
  FILE* f = std::fopen(archive.c_str(), "rb");
  std::fseek(f, 0, SEEK_END);
  const long zipBytes = std::ftell(f);
  std::fclose(f);
  const double mib = double(unpacked) / (1 << 20);
  std::printf("unpack_zip_size: %.1f MiB\n", double(zipBytes) / (1 << 20));
  std::printf("unpack_unpacked_size: %.1f MiB\n", mib);

  const double builtIn = Best(dest, [&] {
    const bool ok = ExtractArchive(archive, dest, ExtractLimits{}, error);
    if (!ok) std::fprintf(stderr, "bench_unpack: %s\n", error.c_str());
    return ok;
  });
  if (builtIn > 0) std::printf("unpack_builtin: %.1f MiB/s\n", mib / builtIn);

  ArchiverCommand seven;
  if (FindArchiver({{"7zz", ArgumentForm::Extract}}, 0, dest, archive, seven)) {
    const double external = Best(dest, [&] {
      int code = 0;
      return RunAndWait(seven.program, seven.arguments, code) && code == 0;
    });
    if (external > 0 && builtIn > 0) {
      std::printf("unpack_7zz: %.1f MiB/s\n", mib / external);
      std::printf("unpack_builtin_vs_7zz: %.2f ratio\n", external / builtIn);
    }
  } else {
    std::printf("unpack_7zz: skipped (7zz not installed)\n");
  }
  DeleteTree(root);
  return 0;
}
