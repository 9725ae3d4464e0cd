#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <vector>

#include "core/device/byte_sum.h"
#include "core/device/hid_cmd.h"
#include "fake_hid_io.h"

namespace orvane {
namespace {

using test::DataReport;
using test::FakeHidIO;
using test::RecordingNotify;
using test::ReplyReport;

TEST(ByteSum, SumsUnsignedBytesIntoAWrappingWord) {
  EXPECT_EQ(ByteSum(nullptr, 0), 0u);
  const uint8_t some[] = {0xFF, 0x01, 0x80};
  EXPECT_EQ(ByteSum(some, 3), 0x180u);
  // Every length around the 8-byte steps and the 128-step fold, against the
  // plain definition.
  std::vector<uint8_t> data(5000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 131 + 7);
  for (size_t len : {1u, 7u, 8u, 9u, 15u, 16u, 17u, 1023u, 1024u, 1025u, 2049u, 5000u}) {
    uint32_t expect = 0;
    for (size_t i = 0; i < len; ++i) expect += data[i];
    EXPECT_EQ(ByteSum(data.data(), len), expect) << len;
  }
  // Wrapping: 2^24 + 1 bytes of 0xFF overflow 32 bits.
  std::vector<uint8_t> big((1u << 24) + 1, 0xFF);
  EXPECT_EQ(ByteSum(big), uint32_t(uint64_t(big.size()) * 255u));
}

TEST(HidCommandPacket, BootVersionQueryHasTheWireLayout) {
  FakeHidIO* io = new FakeHidIO;
  CHidCmd cmd{std::unique_ptr<CHidIO>(io)};
  ASSERT_TRUE(cmd.Open(nullptr));
  io->reads.push_back({true, ReplyReport(HID_CMD_GET_BOOT_VERSION, 0, 1011)});
  EXPECT_EQ(cmd.GetBootVersion(), 1011);

  ASSERT_EQ(io->writes.size(), 1u);
  const Report& r = io->writes[0];
  // Param2, Area and Param3 are nine zero bytes between the two words and "HIDC".
  const std::array<uint8_t, 24> head = {0x00, 0xF7, 0x17, 0xA5, 0x93, 0x1E, 0x6C, 0x01,
                                        0xEF, 0xCD, 0xAB, 0,    0,    0,    0,    0,
                                        0,    0,    0,    0,    0x48, 0x49, 0x44, 0x43};
  for (size_t i = 0; i < head.size(); ++i) EXPECT_EQ(r[i], head[i]) << "byte " << i;
  uint32_t sum = 0;
  for (size_t i = 1; i <= 23; ++i) sum += r[i];
  EXPECT_EQ(LoadLE32At(&r[24]), sum);
  for (size_t i = 28; i < kReportSize; ++i) EXPECT_EQ(r[i], 0xCC) << "byte " << i;
}

TEST(HidCommandPacket, StoreAndLoadKeepEveryField) {
  const HidCommandPacket p = HidCommandPacket::Make(0xF3, 0x11223344, 0x55667788, 0x99AABBCC, 1, 0xDDEEFF00);
  const HidCommandPacket q = HidCommandPacket::Load(p.Store());
  EXPECT_EQ(q.Code, 0xF3);
  EXPECT_EQ(q.Param0, 0x11223344u);
  EXPECT_EQ(q.Param1, 0x55667788u);
  EXPECT_EQ(q.Param2, 0x99AABBCCu);
  EXPECT_EQ(q.Area, 1);
  EXPECT_EQ(q.Param3, 0xDDEEFF00u);
  EXPECT_TRUE(q.IsWellFormed());
  EXPECT_EQ(p.Store()[14], 1);  // area byte sits between Param2 and Param3
}

struct ReplyCase {
  const char* name;
  Report report;
  size_t count;
  int64_t expected;  // result of GetBootVersion
};

Report Tweak(Report r, size_t index, int delta) {
  r[index] = uint8_t(r[index] + delta);
  return r;
}

TEST(CHidCmd, RepliesAreValidatedBeforeUse) {
  const Report good = ReplyReport(HID_CMD_GET_BOOT_VERSION, 0, 1010);
  const std::vector<ReplyCase> cases = {
      {"good", good, kReportSize, 1010},
      {"other code byte is accepted", ReplyReport(0x42, 0, 1010), kReportSize, 1010},
      {"checksum off by one", Tweak(good, 24, 1), kReportSize, -2},
      {"length byte not 23", Tweak(good, 2, 1), kReportSize, -2},
      {"marker not HIDC", Tweak(good, 20, 1), kReportSize, -2},
      {"status 1", ReplyReport(HID_CMD_GET_BOOT_VERSION, 1, 1010), kReportSize, -2},
      {"reply cut short", good, 20, -2},
      {"empty read", good, 0, -2},
  };
  for (const ReplyCase& c : cases) {
    auto* io = new FakeHidIO;
    CHidCmd cmd{std::unique_ptr<CHidIO>(io)};
    ASSERT_TRUE(cmd.Open(nullptr));
    io->reads.push_back({true, c.report, c.count});
    EXPECT_EQ(cmd.GetBootVersion(), c.expected) << c.name;
  }
}

TEST(CHidCmd, FailedStatusStillHandsOutTheReply) {
  auto* io = new FakeHidIO;
  CHidCmd cmd{std::unique_ptr<CHidIO>(io)};
  ASSERT_TRUE(cmd.Open(nullptr));
  io->reads.push_back({true, ReplyReport(HID_CMD_FINISH, 1, 77)});
  HidCommandPacket out;
  EXPECT_FALSE(cmd.ReadResponse(&out));
  EXPECT_EQ(out.Param0, 1u);
  EXPECT_EQ(out.Param1, 77u);
  // A corrupt reply leaves `out` cleared.
  io->reads.push_back({true, Tweak(ReplyReport(HID_CMD_FINISH, 0, 5), 24, 1)});
  EXPECT_FALSE(cmd.ReadResponse(&out));
  EXPECT_EQ(out.Param1, 0u);
}

TEST(CHidCmd, UnsentCommandsGiveMinusOne) {
  auto* io = new FakeHidIO;
  CHidCmd cmd{std::unique_ptr<CHidIO>(io)};
  // Closed: nothing goes out.
  std::array<uint8_t, kPageSize> page{};
  EXPECT_EQ(cmd.GetBootVersion(), -1);
  EXPECT_EQ(cmd.ReadPage(0, 0x110, page), -1);
  EXPECT_EQ(cmd.Finish(), -1);
  EXPECT_TRUE(io->writes.empty());
  // Open, but the write of the packet fails.
  ASSERT_TRUE(cmd.Open(nullptr));
  io->failWriteAt = 0;
  EXPECT_EQ(cmd.GetCapacity(), -1);
}

TEST(CHidCmd, ReadPageCountsPayloadAndStopsAtTheFailedReport) {
  auto* io = new FakeHidIO;
  RecordingNotify notify;
  CHidCmd cmd{std::unique_ptr<CHidIO>(io)};
  ASSERT_TRUE(cmd.Open(&notify));
  io->reads = {{true, DataReport(1)}, {true, DataReport(2)}, {false, {}}};
  std::array<uint8_t, kPageSize> page{};
  EXPECT_EQ(cmd.ReadPage(1, 0x160, page), 128);
  ASSERT_EQ(notify.posts.size(), 2u);
  EXPECT_EQ(notify.posts[0], std::make_pair(WM_HID_READ_PROGRESS, 64));
  EXPECT_EQ(page[0], 1);
  EXPECT_EQ(page[64], 2);
  // The command names page and area.
  const HidCommandPacket sent = HidCommandPacket::Load([&] {
    HidCommandPacket::Bytes b;
    std::copy_n(io->writes[0].begin() + 1, b.size(), b.begin());
    return b;
  }());
  EXPECT_EQ(sent.Code, HID_CMD_READ_PAGE);
  EXPECT_EQ(sent.Param0, 0x160u);
  EXPECT_EQ(sent.Param1, 1u);
  EXPECT_EQ(sent.Area, 1);

  // Four good reports and a failed reply: -2; a good reply: 256.
  for (auto [status, expected] : {std::pair{1u, -2}, std::pair{0u, 256}}) {
    io->reads = {{true, DataReport(3)}, {true, DataReport(4)}, {true, DataReport(5)},
                 {true, DataReport(6)}, {true, ReplyReport(HID_CMD_READ_PAGE, status, 0)}};
    EXPECT_EQ(cmd.ReadPage(0, 1, page), expected);
  }
  EXPECT_EQ(page[255], 6);
}

TEST(CHidCmd, ReportsWithoutPayloadNeverSpinForever) {
  auto* io = new FakeHidIO;
  CHidCmd cmd{std::unique_ptr<CHidIO>(io)};
  ASSERT_TRUE(cmd.Open(nullptr));
  for (int i = 0; i < 8; ++i) io->reads.push_back({true, DataReport(0), 1});
  std::array<uint8_t, kPageSize> page{};
  EXPECT_EQ(cmd.ReadPage(0, 0, page), 0);
}

TEST(CHidCmd, WritePagesSendsFourReportsAPage) {
  auto* io = new FakeHidIO;
  RecordingNotify notify;
  CHidCmd cmd{std::unique_ptr<CHidIO>(io)};
  ASSERT_TRUE(cmd.Open(&notify));
  std::vector<uint8_t> src(3 * kPageSize);
  std::iota(src.begin(), src.end(), 0);
  io->reads.push_back({true, ReplyReport(HID_CMD_WRITE_PAGES, 0, 0)});
  EXPECT_EQ(cmd.WritePages(3, src), 768);
  EXPECT_EQ(notify.posts.size(), 12u);
  ASSERT_EQ(io->writes.size(), 12u);
  EXPECT_EQ(io->writes[0][0], 0);
  EXPECT_EQ(io->writes[0][1], 0);
  EXPECT_EQ(io->writes[11][64], uint8_t(767));

  // A failed write ends the transfer with the bytes moved so far and no reply.
  io->writes.clear();
  io->failWriteAt = 5;
  io->reads.push_back({true, ReplyReport(HID_CMD_WRITE_PAGES, 0, 0)});
  EXPECT_EQ(cmd.WritePages(3, src), 320);
  EXPECT_EQ(io->reads.size(), 1u);
  // A source shorter than the pages is refused before anything is sent.
  io->failWriteAt = -1;
  io->writes.clear();
  EXPECT_EQ(cmd.WritePages(2, std::span<const uint8_t>(src.data(), 300)), -1);
  EXPECT_TRUE(io->writes.empty());
}

TEST(CHidCmd, AbortEndsATransferAfterTheCurrentReport) {
  auto* io = new FakeHidIO;
  CHidCmd cmd{std::unique_ptr<CHidIO>(io)};
  ASSERT_TRUE(cmd.Open(nullptr));
  std::vector<uint8_t> src(2 * kPageSize, 0xAB);
  io->onWrite = [&](size_t index) {
    if (index == 2) cmd.m_bAbort = true;
  };
  io->reads.push_back({true, ReplyReport(HID_CMD_WRITE_PAGES, 0, 0)});
  EXPECT_EQ(cmd.WritePages(2, src), 0);
  EXPECT_EQ(io->writes.size(), 3u);
  EXPECT_EQ(io->reads.size(), 1u);  // no reply read
  // The next transfer clears the flag.
  io->onWrite = nullptr;
  EXPECT_EQ(cmd.WritePages(2, src), 512);
}

TEST(CHidCmd, OpenTakesTheFirstInterfaceThatOpens) {
  auto* io = new FakeHidIO;
  io->targets = {"a", "b", "c"};
  io->refusePaths = {"a"};
  CHidCmd cmd{std::unique_ptr<CHidIO>(io)};
  EXPECT_TRUE(cmd.Open(nullptr));
  EXPECT_EQ(io->opened, std::vector<std::string>{"b"});
  // Already open: nothing more is opened.
  EXPECT_FALSE(cmd.Open(nullptr));
  EXPECT_FALSE(cmd.OpenPath("c", nullptr));
  EXPECT_EQ(io->opened.size(), 1u);
  cmd.Close();
  cmd.Close();
  EXPECT_FALSE(cmd.IsOpen());
  EXPECT_FALSE(io->open);
  // No interface at all.
  io->targets.clear();
  EXPECT_FALSE(cmd.Open(nullptr));
  EXPECT_EQ(cmd.LastOpenError(), OpenError::NotFound);
}

TEST(CHidCmd, OldBootLoadersMayLeaveAPageWriteUnanswered) {
  // Below 1008 a missing reply counts as written; a reply that refuses the
  // write never does.
  struct Case {
    const char* name;
    int64_t boot;
    bool replies;
    uint32_t status;
    bool taken;
  } cases[] = {
      {"1007, no reply", 1007, false, 0, true},
      {"1007, refused", 1007, true, 1, false},
      {"1007, accepted", 1007, true, 0, true},
      {"1008, no reply", 1008, false, 0, false},
  };
  std::vector<uint8_t> page(kPageSize, 0x42);
  for (const Case& c : cases) {
    auto* io = new FakeHidIO;
    CHidCmd cmd{std::unique_ptr<CHidIO>(io)};
    ASSERT_TRUE(cmd.Open(nullptr));
    if (c.replies) io->reads.push_back({true, ReplyReport(HID_CMD_WRITE_PAGES, c.status, 0)});
    const int r = cmd.WritePages(1, page);
    EXPECT_EQ(cmd.PageWriteTaken(r, kPageSize, c.boot), c.taken) << c.name;
  }
}

TEST(BootVersion, FailedQueriesCountAsNewest) {
  EXPECT_TRUE(BootVersionAtLeast(-1, 1011));
  EXPECT_TRUE(BootVersionAtLeast(-2, 1010));
  EXPECT_TRUE(BootVersionAtLeast(1008, 1008));
  EXPECT_FALSE(BootVersionAtLeast(1007, 1008));
}

TEST(DevicePaths, MatchVendorAndProductInAnyCase) {
  struct {
    const char* path;
    bool match;
  } cases[] = {
      {R"(\\?\hid#vid_0416&pid_b500#7&1a2b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030})", true},
      {R"(\\?\HID#VID_0416&PID_B500#7&1A2B&0&0000#{4D1E55B2-F16F-11CF-88CB-001111000030})", true},
      {R"(\\?\hid#vid_0416&pid_b501#7&1a2b&0&0000)", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsTargetDevicePath(c.path), c.match) << c.path;
}

TEST(DevicePaths, InterfaceClassesClassifyByPosition) {
  EXPECT_EQ(ClassifyInterfaceGuid(NotifyInterfaceGuids[3]), kGuidHid);
  EXPECT_EQ(ClassifyInterfaceGuid(NotifyInterfaceGuids[0]), kGuidUsbDevice);
  InterfaceGuid other = NotifyInterfaceGuids[3];
  other.Data4[7] ^= 1;
  EXPECT_EQ(ClassifyInterfaceGuid(other), 0);
}

}  // namespace
}  // namespace orvane
