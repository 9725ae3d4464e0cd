// The link under concurrent use: exchanges from two threads never interleave,
// and Close from another thread ends a transfer before the handle goes away.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>
#include <vector>

#include "core/device/byte_sum.h"
#include "sim/virtual_device.h"
#include "sim/virtual_hid_io.h"

namespace orvane::sim {
namespace {

TEST(LinkThreads, ExchangesFromTwoThreadsStayWhole) {
  auto device = std::make_shared<CVirtualDevice>();
  CHidCmd link(std::make_unique<CVirtualHidIO>(device));
  ASSERT_TRUE(link.Open(nullptr));
  std::atomic<int> bad{0};
  auto writer = [&](uint32_t firstPage, uint8_t fill) {
    std::vector<uint8_t> data(4 * kPageSize, fill);
    for (int i = 0; i < 50; ++i) {
      auto lock = link.LockExchange();  // command + data + reply as one exchange
      if (!link.SendCommand(HID_CMD_WRITE_PAGES, firstPage, 4, 0, 1, ByteSum(data)) ||
          link.WritePages(4, data) != int(data.size()))
        ++bad;
    }
  };
  auto reader = [&] {
    std::array<uint8_t, kPageSize> page{};
    for (int i = 0; i < 100; ++i) {
      if (link.GetBootVersion() != 1011) ++bad;
      if (link.ReadPage(0, 0x160, page) != 256) ++bad;
    }
  };
  std::thread a(writer, 0x200, 0x11), b(reader), c(writer, 0x300, 0x22);
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(device->ReadPageDirect(1, 0x203), std::vector<uint8_t>(kPageSize, 0x11));
  EXPECT_EQ(device->ReadPageDirect(1, 0x303), std::vector<uint8_t>(kPageSize, 0x22));
}

TEST(LinkThreads, CloseStopsATransferInProgress) {
  auto device = std::make_shared<CVirtualDevice>();
  device->SetLatency(std::chrono::microseconds(200));
  CHidCmd link(std::make_unique<CVirtualHidIO>(device));
  ASSERT_TRUE(link.Open(nullptr));
  std::vector<uint8_t> data(256 * kPageSize, 0x5A);  // ~200 ms of reports
  std::atomic<bool> started{false};
  int result = 1234;
  std::thread worker([&] {
    auto lock = link.LockExchange();
    started = true;
    if (link.SendCommand(HID_CMD_WRITE_PAGES, 0x400, 256, 0, 1, ByteSum(data)))
      result = link.WritePages(256, data);
  });
  while (!started) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  link.Close();  // returns only once the worker's exchange has let go
  EXPECT_FALSE(link.IsOpen());
  worker.join();
  EXPECT_GE(result, 0);
  EXPECT_LT(result, int(data.size()));
  EXPECT_EQ(link.GetBootVersion(), -1);
}

TEST(LinkThreads, CloseWakesAReadWaitingForAReply) {
  auto device = std::make_shared<CVirtualDevice>();
  device->AddFault({FaultKind::DropReply, 1});
  CHidCmd link(std::make_unique<CVirtualHidIO>(device));
  ASSERT_TRUE(link.Open(nullptr));
  int64_t result = 0;
  std::thread worker([&] { result = link.GetBootVersion(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  link.Close();
  worker.join();
  EXPECT_LT(result, 0);
  EXPECT_FALSE(link.IsOpen());
}

}  // namespace
}  // namespace orvane::sim
