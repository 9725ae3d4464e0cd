// Checksum throughput on an 8 MiB buffer (the size of a full device area),
// next to memcpy of the same buffer in the same run. Prints "name: value unit".
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "core/device/byte_sum.h"
#include "core/update/scramble.h"

namespace {

constexpr size_t kSize = 8u << 20;
constexpr int kRounds = 15;

volatile uint32_t g_sink;

// Best of kRounds, in MiB/s.
template <typename F>
double Throughput(F&& run) {
  double best = 0;
  for (int i = 0; i < kRounds; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    run();
    const std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
    best = std::max(best, (kSize / double(1 << 20)) / dt.count());
  }
  return best;
}

}  // namespace

int main() {
  std::vector<uint8_t> src(kSize), dst(kSize);
  std::mt19937 rng(1);
  for (auto& b : src) b = uint8_t(rng());
  std::memcpy(dst.data(), src.data(), kSize);  // fault the pages in

  const double copy = Throughput([&] {
    std::memcpy(dst.data(), src.data(), kSize);
    g_sink = dst[kSize / 2];
  });
  const double byteSum = Throughput([&] { g_sink = orvane::ByteSum(src.data(), kSize); });
  const double scrambled = Throughput([&] { g_sink = orvane::ScrambledSum(src.data(), kSize, kSize); });

  std::printf("memcpy_8MiB: %.0f MiB/s\n", copy);
  std::printf("bytesum_8MiB: %.0f MiB/s\n", byteSum);
  std::printf("scrambledsum_8MiB: %.0f MiB/s\n", scrambled);
  std::printf("bytesum_vs_memcpy: %.2f ratio (goal >= 0.50)\n", byteSum / copy);
  std::printf("scrambledsum_vs_memcpy: %.2f ratio (goal >= 0.25)\n", scrambled / copy);
  return 0;
}
