// Event sources: the polling source's differences, sysfs enumeration on a
// fake tree, and the choice between udev and polling.
#include <gtest/gtest.h>

#include <fstream>

#include "core/device/device_events.h"
#include "fake_sysfs.h"
#include "manual_clock.h"

namespace orvane {
namespace {

using namespace std::chrono_literals;

std::string Describe(const std::vector<DeviceChangeRecord>& events) {
  std::string s;
  for (const auto& e : events) {
    s += e.eventType == DBT_DEVICEARRIVAL ? "+" : e.eventType == DBT_DEVICEREMOVECOMPLETE ? "-" : "?";
    s += std::to_string(ClassifyInterfaceGuid(e.classGuid)) + ":" + e.path + (e.isTarget ? "*" : "") + " ";
  }
  return s;
}

TEST(PollingEventSource, ReportsDifferencesOncePerPeriod) {
  test::ManualClock clock;
  std::vector<PresentInterface> present = {{kGuidHid, "/dev/hidraw0", "a", true}, {kGuidDiskVolume, "/dev/sda", "b", false}};
  CPollingEventSource source([&] { return present; }, 1000ms, clock);

  // What is there at the start is the baseline, not an arrival.
  clock.Advance(1000ms);
  EXPECT_EQ(Describe(source.Collect()), "");

  present.push_back({kGuidDiskVolume, "/dev/sdb1", "c", false});
  present.erase(present.begin());
  clock.Advance(999ms);
  EXPECT_EQ(Describe(source.Collect()), "");  // not due yet
  ASSERT_TRUE(source.NextPoll());
  EXPECT_EQ(*source.NextPoll(), clock.Now() + 1ms);
  clock.Advance(1ms);
  EXPECT_EQ(Describe(source.Collect()), "-4:/dev/hidraw0* +2:/dev/sdb1 ");
  clock.Advance(1000ms);
  EXPECT_EQ(Describe(source.Collect()), "");  // reported once

  // Unplugged and plugged again between two looks, under the same node.
  present.push_back({kGuidHid, "/dev/hidraw0", "a2", true});
  clock.Advance(1000ms);
  EXPECT_EQ(Describe(source.Collect()), "+4:/dev/hidraw0* ");
  present.back().identity = "a3";
  clock.Advance(1000ms);
  EXPECT_EQ(Describe(source.Collect()), "-4:/dev/hidraw0* +4:/dev/hidraw0* ");
}

TEST(HidIdIsTarget, MatchesVendorAndProductOnly) {
  EXPECT_TRUE(HidIdIsTarget("0003:00000416:0000B500"));
  EXPECT_TRUE(HidIdIsTarget("0003:00000416:0000b500"));
  EXPECT_TRUE(HidIdIsTarget("0005:416:B500"));
  EXPECT_FALSE(HidIdIsTarget("0003:00000416:0000B501"));
  EXPECT_FALSE(HidIdIsTarget("0003:00000417:0000B500"));
  EXPECT_FALSE(HidIdIsTarget("0003:00000416"));
  EXPECT_FALSE(HidIdIsTarget("0003:00000416:0000B500x"));
  EXPECT_FALSE(HidIdIsTarget("0003:1000000416:0000B500"));
  EXPECT_FALSE(HidIdIsTarget(""));
}

TEST(EnumerateSysfs, HidrawNodesAndBlockDevices) {
  test::FakeSysfs sys;
  sys.Write("devices/hid/0003:0416:B500.0001/uevent", "DRIVER=hid-generic\nHID_ID=0003:00000416:0000B500\n");
  sys.Write("devices/hid/0003:0416:B500.0001/hidraw/hidraw3/uevent", "MAJOR=240\nMINOR=3\nDEVNAME=hidraw3\n");
  sys.Link("devices/hid/0003:0416:B500.0001/hidraw/hidraw3/device", "../..");
  sys.Link("class/hidraw/hidraw3", "../../devices/hid/0003:0416:B500.0001/hidraw/hidraw3");
  sys.Write("devices/hid/0003:046D:C52B.0002/uevent", "HID_ID=0003:0000046D:0000C52B\n");
  sys.Write("devices/hid/0003:046D:C52B.0002/hidraw/hidraw0/uevent", "DEVNAME=hidraw0\n");
  sys.Link("devices/hid/0003:046D:C52B.0002/hidraw/hidraw0/device", "../..");
  sys.Link("class/hidraw/hidraw0", "../../devices/hid/0003:046D:C52B.0002/hidraw/hidraw0");
  sys.Disk("sdb", "vorthel ", true, 1);
  sys.Link("class/block/sdb", "../../block/sdb");
  sys.Link("class/block/gone", "../../devices/gone");  // vanished while we looked

  std::vector<std::string> seen;
  for (const PresentInterface& p : EnumerateSysfs(sys.Root()))
    seen.push_back(std::to_string(p.position) + ":" + p.path + (p.isTarget ? "*" : ""));
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<std::string>{"2:/dev/sdb", "4:/dev/hidraw0", "4:/dev/hidraw3*"}));

  test::FakeSysfs empty;  // no class directories at all
  EXPECT_TRUE(EnumerateSysfs(empty.Root()).empty());
}

TEST(SystemEventSource, UdevWhereUdevdRunsElsePolling) {
  test::ManualClock clock;
  test::FakeSysfs sys;
  EventSourceOptions options;
  options.sysfsRoot = sys.Root();
  options.udevControl = sys.Path("run/udev/control").string();
  std::string why;
  auto polling = MakeSystemEventSource(options, clock, &why);
  EXPECT_EQ(polling->Kind(), "polling");
  EXPECT_EQ(why, "udev is not running");
  EXPECT_EQ(polling->Fd(), -1);
  EXPECT_TRUE(polling->NextPoll());

  std::string error;
  auto udev = MakeUdevEventSource(&error);
  if (!udev) GTEST_SKIP() << "no udev event socket here: " << error;
  EXPECT_GE(udev->Fd(), 0);
  EXPECT_TRUE(udev->Collect().empty());  // returns at once when nothing waits
  sys.Write("run/udev/control", "");
  EXPECT_EQ(MakeSystemEventSource(options, clock, &why)->Kind(), "udev");
}

}  // namespace
}  // namespace orvane
