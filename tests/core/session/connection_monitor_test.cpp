// The connection monitor's decisions and timers, driven by hand-made records
// and a hand-moved clock against a recording target.
#include <gtest/gtest.h>

#include <deque>

#include "core/session/connection_monitor.h"
#include "manual_clock.h"

namespace orvane {
namespace {

using namespace std::chrono_literals;

constexpr const char* kPath = "/dev/hidraw3";

// Records every operation in order ("open /dev/hidraw3", "close", ...).
class RecordingTarget : public IConnectionTarget {
 public:
  bool open = false;
  bool connectResult = true;
  std::deque<OpenError> openResults;  // next results of OpenPath; None when empty
  std::vector<std::string> log;

  bool IsOpen() override { return open; }
  OpenError OpenFirst() override {
    log.push_back("open-first");
    return Open();
  }
  OpenError OpenPath(const std::string& path) override {
    log.push_back("open " + path);
    return Open();
  }
  void CloseLink() override {
    log.push_back("close");
    open = false;
  }
  void ResetRecords() override { log.push_back("reset"); }
  bool RunConnectSequence() override {
    log.push_back("connect");
    if (!connectResult) open = false;
    return connectResult;
  }
  void EjectDeviceVolume() override { log.push_back("eject"); }
  void OnOpenFailed(const std::string& path, OpenError error) override {
    log.push_back("open-failed " + path + (error == OpenError::PermissionDenied ? " permission" : ""));
  }
  void OnClosed(const std::string&, bool duringJob) override { log.push_back(duringJob ? "closed-in-job" : "closed"); }
  void OnArrivalWaits(const std::string& path) override { log.push_back("waits " + path); }

  std::vector<std::string> Take() { return std::exchange(log, {}); }

 private:
  OpenError Open() {
    OpenError r = OpenError::None;
    if (!openResults.empty()) {
      r = openResults.front();
      openResults.pop_front();
    }
    open = r == OpenError::None;
    return r;
  }
};

DeviceChangeRecord Hid(uint32_t event, const std::string& path = kPath, bool target = true) {
  return MakeInterfaceRecord(event, kGuidHid, path, target);
}
DeviceChangeRecord Volume(uint32_t event = DBT_DEVICEARRIVAL) {
  return MakeInterfaceRecord(event, kGuidDiskVolume, "/dev/sdb1", false);
}

using Log = std::vector<std::string>;

struct Rig {
  test::ManualClock clock;
  RecordingTarget target;
  CConnectionMonitor monitor{target, clock};

  void Wait(std::chrono::milliseconds d) {
    clock.Advance(d);
    monitor.OnTimer();
  }
  // Arrival and connect sequence done, the log emptied.
  void Connected() {
    monitor.OnDeviceChange(Hid(DBT_DEVICEARRIVAL));
    Wait(2000ms);
    ASSERT_EQ(target.Take(), (Log{"open /dev/hidraw3", "connect"}));
  }
};

TEST(ConnectionMonitor, ArrivalOpensAndConnectsTwoSecondsLater) {
  Rig r;
  r.monitor.OnDeviceChange(Hid(DBT_DEVICEARRIVAL));
  EXPECT_EQ(r.target.Take(), Log{"open /dev/hidraw3"});
  ASSERT_TRUE(r.monitor.NextDeadline());
  EXPECT_EQ(*r.monitor.NextDeadline(), r.clock.Now() + 2000ms);
  r.Wait(1999ms);
  EXPECT_EQ(r.target.Take(), Log{});
  r.Wait(1ms);
  EXPECT_EQ(r.target.Take(), Log{"connect"});
  EXPECT_FALSE(r.monitor.NextDeadline());  // one-shot
  r.Wait(5000ms);
  EXPECT_EQ(r.target.Take(), Log{});

  // Removal closes and clears the records.
  r.monitor.OnDeviceChange(Hid(DBT_DEVICEREMOVECOMPLETE));
  EXPECT_EQ(r.target.Take(), (Log{"close", "reset", "closed"}));
}

TEST(ConnectionMonitor, RecordsThatChangeNothing) {
  struct Case {
    const char* name;
    bool open;
    DeviceChangeRecord record;
  };
  DeviceChangeRecord volumeType = Hid(DBT_DEVICEARRIVAL);
  volumeType.deviceType = DBT_DEVTYP_VOLUME;  // a volume record, not an interface record
  DeviceChangeRecord unknownClass = Hid(DBT_DEVICEARRIVAL);
  unknownClass.classGuid.Data1 ^= 1;
  const Case cases[] = {
      {"record of another device type", false, volumeType},
      {"interface class not in the table", false, unknownClass},
      {"USB device class", false, MakeInterfaceRecord(DBT_DEVICEARRIVAL, kGuidUsbDevice, kPath, true)},
      {"disk class", false, MakeInterfaceRecord(DBT_DEVICEARRIVAL, kGuidDisk, kPath, true)},
      {"network class", false, MakeInterfaceRecord(DBT_DEVICEARRIVAL, kGuidNetwork, kPath, true)},
      {"another HID device arriving", false, Hid(DBT_DEVICEARRIVAL, "/dev/hidraw0", false)},
      {"another HID device leaving", true, Hid(DBT_DEVICEREMOVECOMPLETE, "/dev/hidraw0", false)},
      {"arrival while open", true, Hid(DBT_DEVICEARRIVAL)},
      {"removal while closed", false, Hid(DBT_DEVICEREMOVECOMPLETE)},
      {"query-remove event", true, Hid(0x8001)},
      {"remove-pending event", true, Hid(0x8003)},
      {"volume removal", false, Volume(DBT_DEVICEREMOVECOMPLETE)},
  };
  for (const Case& c : cases) {
    Rig r;
    r.target.open = c.open;
    r.monitor.OnDeviceChange(c.record);
    r.Wait(10000ms);
    EXPECT_EQ(r.target.Take(), Log{}) << c.name;
    EXPECT_EQ(r.target.open, c.open) << c.name;
  }
}

TEST(ConnectionMonitor, RepeatedEventsActOnce) {
  Rig r;
  r.monitor.OnDeviceChange(Hid(DBT_DEVICEARRIVAL));
  r.Connected();  // the second arrival finds it open
  r.monitor.OnDeviceChange(Hid(DBT_DEVICEREMOVECOMPLETE));
  r.monitor.OnDeviceChange(Hid(DBT_DEVICEREMOVECOMPLETE));
  EXPECT_EQ(r.target.Take(), (Log{"close", "reset", "closed"}));
}

TEST(ConnectionMonitor, RemovalBeforeTheConnectTimerCancelsTheSequence) {
  Rig r;
  r.monitor.OnDeviceChange(Hid(DBT_DEVICEARRIVAL));
  r.Wait(1000ms);
  r.monitor.OnDeviceChange(Hid(DBT_DEVICEREMOVECOMPLETE));
  r.Wait(5000ms);
  EXPECT_EQ(r.target.Take(), (Log{"open /dev/hidraw3", "close", "reset", "closed"}));
}

TEST(ConnectionMonitor, VolumeArrivalsLeadToOneEjectAfterTheLast) {
  Rig r;
  r.monitor.OnDeviceChange(Volume());
  r.Wait(1000ms);
  r.monitor.OnDeviceChange(Volume());  // restarts the timer
  r.Wait(2999ms);
  EXPECT_EQ(r.target.Take(), Log{});
  r.Wait(1ms);
  EXPECT_EQ(r.target.Take(), Log{"eject"});
  r.Wait(10000ms);
  EXPECT_EQ(r.target.Take(), Log{});
}

TEST(ConnectionMonitor, FailedConnectSequenceIsNotRetried) {
  Rig r;
  r.target.connectResult = false;
  r.monitor.OnDeviceChange(Hid(DBT_DEVICEARRIVAL));
  r.Wait(2000ms);
  r.Wait(10000ms);
  EXPECT_EQ(r.target.Take(), (Log{"open /dev/hidraw3", "connect"}));
  EXPECT_FALSE(r.target.open);
  // Only a new arrival opens it again.
  r.monitor.OnDeviceChange(Hid(DBT_DEVICEARRIVAL));
  EXPECT_EQ(r.target.Take(), Log{"open /dev/hidraw3"});
}

TEST(ConnectionMonitor, OpenIsRetriedBrieflyAfterAnArrival) {
  {
    Rig r;  // permissions arrive a little after the node
    r.target.openResults = {OpenError::PermissionDenied, OpenError::PermissionDenied};
    r.monitor.OnDeviceChange(Hid(DBT_DEVICEARRIVAL));
    r.Wait(200ms);
    r.Wait(200ms);
    EXPECT_EQ(r.target.Take(), (Log{"open /dev/hidraw3", "open /dev/hidraw3", "open /dev/hidraw3"}));
    EXPECT_TRUE(r.target.open);
    r.Wait(2000ms);
    EXPECT_EQ(r.target.Take(), Log{"connect"});
  }
  {
    Rig r;  // never ours: said once, after the last attempt
    r.target.openResults.assign(10, OpenError::PermissionDenied);
    r.monitor.OnDeviceChange(Hid(DBT_DEVICEARRIVAL));
    for (int i = 0; i < 10; ++i) r.Wait(200ms);
    Log expected(6, "open /dev/hidraw3");
    expected.push_back("open-failed /dev/hidraw3 permission");
    EXPECT_EQ(r.target.Take(), expected);
  }
  {
    Rig r;  // gone again before it could be opened
    r.target.openResults = {OpenError::NotFound};
    r.monitor.OnDeviceChange(Hid(DBT_DEVICEARRIVAL));
    r.monitor.OnDeviceChange(Hid(DBT_DEVICEREMOVECOMPLETE));
    r.Wait(5000ms);
    EXPECT_EQ(r.target.Take(), Log{"open /dev/hidraw3"});
  }
}

TEST(ConnectionMonitor, StartOpensThePresentDeviceAndEjectsOnce) {
  Rig r;
  r.monitor.Start(true);
  EXPECT_EQ(r.target.Take(), (Log{"open-first", "eject"}));
  r.Wait(2000ms);
  EXPECT_EQ(r.target.Take(), Log{"connect"});

  Rig absent;
  absent.target.openResults = {OpenError::NotFound};
  absent.monitor.Start(false);
  EXPECT_EQ(absent.target.Take(), (Log{"open-first", "reset"}));
  EXPECT_FALSE(absent.monitor.NextDeadline());

  Rig denied;
  denied.target.openResults = {OpenError::PermissionDenied};
  denied.monitor.Start(false);
  EXPECT_EQ(denied.target.Take(), (Log{"open-first", "reset", "open-failed  permission"}));
}

TEST(ConnectionMonitor, AJobKeepsTheDeviceUntilItEnds) {
  Rig r;
  r.Connected();

  r.monitor.BeginJob();
  // Pulled out: the link closes under the job, the records stay for it.
  r.monitor.OnDeviceChange(Hid(DBT_DEVICEREMOVECOMPLETE));
  EXPECT_EQ(r.target.Take(), (Log{"close", "closed-in-job"}));
  // Plugged in again: waits for the job.
  r.monitor.OnDeviceChange(Hid(DBT_DEVICEARRIVAL));
  r.Wait(5000ms);
  EXPECT_EQ(r.target.Take(), Log{"waits /dev/hidraw3"});
  r.monitor.EndJob(false);
  EXPECT_EQ(r.target.Take(), (Log{"reset", "open /dev/hidraw3"}));
  r.Wait(2000ms);
  EXPECT_EQ(r.target.Take(), Log{"connect"});
}

TEST(ConnectionMonitor, AfterAJobTheDeviceIsReadAgainOnlyWhenAsked) {
  Rig r;
  r.Connected();

  r.monitor.BeginJob();
  r.monitor.EndJob(false);
  r.Wait(5000ms);
  EXPECT_EQ(r.target.Take(), Log{});

  r.monitor.BeginJob();
  r.monitor.EndJob(true);
  r.Wait(2000ms);
  EXPECT_EQ(r.target.Take(), Log{"connect"});

  // A connect sequence that comes due during a job waits for its end.
  r.monitor.RefreshConnectionStatus();
  r.monitor.BeginJob();
  r.Wait(2000ms);
  EXPECT_EQ(r.target.Take(), Log{});
  r.monitor.EndJob(false);
  r.Wait(2000ms);
  EXPECT_EQ(r.target.Take(), Log{"connect"});
}

TEST(ConnectionMonitor, DeviceThatLeavesAndReturnsDuringAJobIsForgottenWhenItLeavesAgain) {
  Rig r;
  r.monitor.OnDeviceChange(Hid(DBT_DEVICEARRIVAL));
  r.monitor.BeginJob();
  r.monitor.OnDeviceChange(Hid(DBT_DEVICEREMOVECOMPLETE));
  r.monitor.OnDeviceChange(Hid(DBT_DEVICEARRIVAL));
  r.monitor.OnDeviceChange(Hid(DBT_DEVICEREMOVECOMPLETE));
  r.monitor.EndJob(false);
  r.Wait(5000ms);
  EXPECT_EQ(r.target.Take(), (Log{"open /dev/hidraw3", "close", "closed-in-job", "waits /dev/hidraw3", "reset"}));
}

}  // namespace
}  // namespace orvane
