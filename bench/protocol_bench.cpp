// Protocol throughput against the virtual device.
//
//   write_throughput / read_throughput: page data through WritePages and
//   ReadPage with no wire latency, i.e. the host's own cost per byte.
//   *_latency_ratio: with 1 ms per report, elapsed time over reports x 1 ms;
//   1.0 means the link adds nothing to the wire's own pace.
#include <array>
#include <chrono>
#include <cstdio>
#include <vector>

#include "core/device/byte_sum.h"
#include "sim/virtual_device.h"
#include "sim/virtual_hid_io.h"

using namespace orvane;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Writes `pages` pages in commands of `perCommand` pages; returns reports moved.
bool WriteRun(CHidCmd& link, uint32_t pages, uint32_t perCommand, uint64_t& reports) {
  std::vector<uint8_t> data(size_t(perCommand) * kPageSize);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 13);
  const uint32_t sum = ByteSum(data);
  for (uint32_t first = 0; first < pages; first += perCommand) {
    if (!link.SendCommand(HID_CMD_WRITE_PAGES, first, perCommand, 0, 1, sum)) return false;
    if (link.WritePages(perCommand, data) != int(data.size())) return false;
    reports += 2 + perCommand * 4;
  }
  return true;
}

bool ReadRun(CHidCmd& link, uint32_t pages, uint64_t& reports) {
  std::array<uint8_t, kPageSize> page{};
  for (uint32_t p = 0; p < pages; ++p) {
    if (link.ReadPage(1, p, page) != int(kPageSize)) return false;
    reports += 6;
  }
  return true;
}

}  // namespace

int main() {
  auto device = std::make_shared<sim::CVirtualDevice>();
  CHidCmd link(std::make_unique<sim::CVirtualHidIO>(device));
  if (!link.Open(nullptr)) {
    std::fprintf(stderr, "cannot open the virtual device\n");
    return 1;
  }

  // No latency: 32 MiB through each path (the whole 8 MiB area four times).
  const uint32_t areaPages = uint32_t(kDefaultCapacity / kPageSize);
  uint64_t reports = 0;
  auto t0 = Clock::now();
  for (int pass = 0; pass < 4; ++pass)
    if (!WriteRun(link, areaPages, 1024, reports)) return std::fprintf(stderr, "write failed\n"), 1;
  auto t1 = Clock::now();
  const double mb = 4.0 * kDefaultCapacity / 1e6;
  std::printf("write_throughput: %.1f MB/s\n", mb / Seconds(t0, t1));

  t0 = Clock::now();
  for (int pass = 0; pass < 4; ++pass)
    if (!ReadRun(link, areaPages, reports)) return std::fprintf(stderr, "read failed\n"), 1;
  t1 = Clock::now();
  std::printf("read_throughput: %.1f MB/s\n", mb / Seconds(t0, t1));

  // 1 ms per report, as a full-speed bus with one report per frame.
  device->SetLatency(std::chrono::milliseconds(1));
  link.Close();
  link.Open(nullptr);  // restart the wire clock
  reports = 0;
  t0 = Clock::now();
  if (!WriteRun(link, 128, 64, reports)) return std::fprintf(stderr, "write failed\n"), 1;
  t1 = Clock::now();
  std::printf("write_latency_reports: %llu reports\n", (unsigned long long)reports);
  std::printf("write_latency_ratio: %.4f x\n", Seconds(t0, t1) / (reports * 1e-3));

  link.Close();
  link.Open(nullptr);
  reports = 0;
  t0 = Clock::now();
  if (!ReadRun(link, 64, reports)) return std::fprintf(stderr, "read failed\n"), 1;
  t1 = Clock::now();
  std::printf("read_latency_reports: %llu reports\n", (unsigned long long)reports);
  std::printf("read_latency_ratio: %.4f x\n", Seconds(t0, t1) / (reports * 1e-3));
  return 0;
}
