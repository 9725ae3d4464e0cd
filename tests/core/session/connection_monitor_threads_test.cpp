// The event loop on its own thread, plugged and unplugged from another; and a
// removal and an arrival while an update job runs on a worker.
#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>

#include "core/brands.h"
#include "core/session/connection_monitor.h"
#include "core/update/update_job.h"
#include "core/update/update_writer.h"
#include "sim/sample_update.h"
#include "sim/virtual_hid_io.h"
#include "sim/virtual_plug.h"

namespace orvane {
namespace {

using namespace std::chrono_literals;

// Counts transfers tried on a link that is not open: there must be none.
class ClosedUseDetector final : public CHidIO {
 public:
  explicit ClosedUseDetector(std::unique_ptr<CHidIO> inner) : m_inner(std::move(inner)) {}
  std::vector<std::string> EnumerateTargets() override { return m_inner->EnumerateTargets(); }
  bool OpenPath(const std::string& path) override { return m_inner->OpenPath(path); }
  void Close() override { m_inner->Close(); }
  bool IsOpen() const override { return m_inner->IsOpen(); }
  bool ReadReport(Report& buffer, size_t* n) override {
    if (!m_inner->IsOpen()) ++closedUse;
    return m_inner->ReadReport(buffer, n);
  }
  bool WriteReport(const Report& buffer, size_t* n) override {
    if (!m_inner->IsOpen()) ++closedUse;
    return m_inner->WriteReport(buffer, n);
  }
  void Cancel() override { m_inner->Cancel(); }
  void DiscardInput() override { m_inner->DiscardInput(); }
  OpenError LastOpenError() const override { return m_inner->LastOpenError(); }

  static inline std::atomic<int> closedUse{0};

 private:
  std::unique_ptr<CHidIO> m_inner;
};

// Hooks run on the loop thread; the test thread waits for them.
class SharedLogTarget final : public CSessionConnectionTarget {
 public:
  explicit SharedLogTarget(CDeviceSession& s) : CSessionConnectionTarget(s, nullptr) {}

  void OnOpened(const std::string&) override { Add("opened"); }
  void OnClosed(const std::string&, bool duringJob) override { Add(duringJob ? "closed-in-job" : "closed"); }
  void OnArrivalWaits(const std::string&) override { Add("waits"); }
  void OnConnectResult(bool ok) override { Add(ok ? "connected" : "connect-failed"); }

  // Waits until `entry` has been logged `count` times in all; false after 10 s.
  bool WaitFor(const std::string& entry, int count = 1) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, 10s, [&] { return std::count(m_log.begin(), m_log.end(), entry) >= count; });
  }
  int Count(const std::string& entry) {
    std::lock_guard lock(m_mutex);
    return int(std::count(m_log.begin(), m_log.end(), entry));
  }
  bool Has(const std::string& entry) { return Count(entry) > 0; }
  std::vector<std::string> Log() {
    std::lock_guard lock(m_mutex);
    return m_log;
  }

 private:
  void Add(const std::string& entry) {
    std::lock_guard lock(m_mutex);
    m_log.push_back(entry);
    m_cv.notify_all();
  }
  std::mutex m_mutex;
  std::condition_variable m_cv;
  std::vector<std::string> m_log;
};

struct Rig {
  std::string image;
  std::shared_ptr<sim::CVirtualDevice> device{sim::MakeFactoryDevice()};
  CDeviceSession session{std::make_unique<ClosedUseDetector>(std::make_unique<sim::CVirtualHidIO>(device))};
  CSteadyClock clock;
  std::unique_ptr<IDeviceEventSource> source;
  SharedLogTarget target{session};
  CConnectionMonitor monitor{target, clock, Timings()};
  std::unique_ptr<CDeviceEventLoop> loop;

  Rig() {
    static int counter = 0;
    image = ::testing::TempDir() + "orvane-watch-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    sim::SetImagePlugged(image, true, nullptr);
    source = sim::MakeVirtualPlugSource(device, image, 2ms, clock);
    loop = std::make_unique<CDeviceEventLoop>(*source, monitor, clock);
    ClosedUseDetector::closedUse = 0;
  }
  ~Rig() { sim::SetImagePlugged(image, true, nullptr); }
  static MonitorTimings Timings() {
    MonitorTimings t;
    t.connect = 5ms;
    t.openRetry = 5ms;
    return t;
  }
  void Plug(bool in) { ASSERT_TRUE(sim::SetImagePlugged(image, in, nullptr)); }
};

TEST(ConnectionMonitorThreads, LoopThreadFollowsPlugAndUnplugAndStops) {
  Rig r;
  std::thread loopThread([&] {
    r.monitor.Start(false);
    while (r.loop->RunOnce(50ms)) {
    }
  });
  EXPECT_TRUE(r.target.WaitFor("connected"));
  r.Plug(false);
  EXPECT_TRUE(r.target.WaitFor("closed"));
  r.Plug(true);
  EXPECT_TRUE(r.target.WaitFor("connected", 2));
  r.loop->Stop();  // from another thread, while it waits
  loopThread.join();
  EXPECT_EQ(r.target.Log(), (std::vector<std::string>{"opened", "connected", "closed", "opened", "connected"}));
  EXPECT_TRUE(r.session.IsOpen());
  EXPECT_EQ(ClosedUseDetector::closedUse.load(), 0);
}

TEST(ConnectionMonitorThreads, RemovalAndArrivalWhileAJobRuns) {
  Rig r;
  const std::string updateFile = r.image + ".qzv";
  {
    sim::SampleSizes sizes;
    sizes.section3 *= 4;
    sizes.section4 *= 4;
    std::string error;
    const auto bytes = BuildUpdateFile(
        sim::SampleUpdateContents(sizes, {brands::kBuildBrand.begin(), brands::kBuildBrand.end()}), &error);
    ASSERT_TRUE(bytes) << error;
    std::ofstream(updateFile, std::ios::binary).write(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  }
  r.device->SetLatency(50us);  // long enough a job to pull the device out of

  // This thread is the front end: it runs the loop, the job has a worker,
  // and a harness thread plugs.
  r.monitor.Start(false);
  while (!r.target.Has("connected")) ASSERT_TRUE(r.loop->RunOnce(5ms));

  struct Observer : IUpdateJobObserver {
    bool AskYesNo(const std::string&) override { return true; }
  } observer;
  CUpdateJob job(r.session, observer);
  job.m_strLocalFile = updateFile;
  r.monitor.BeginJob();
  JobResult result;
  std::atomic<bool> jobDone{false};
  std::thread worker([&] {
    result = job.RunUpdate();
    jobDone = true;
  });
  std::atomic<bool> harnessDone{false};
  std::thread harness([&] {
    while (r.session.m_progress.m_nBytesDone.load() == 0 && !jobDone) std::this_thread::sleep_for(1ms);
    r.Plug(false);
    r.target.WaitFor("closed-in-job");
    r.Plug(true);
    r.target.WaitFor("waits");
    harnessDone = true;
  });
  // The job's end is handled only after the harness is through, so the
  // arrival is certain to come while the job holds the device.
  const auto giveUp = MonoClock::now() + 20s;
  while (!(jobDone && harnessDone) && MonoClock::now() < giveUp) r.loop->RunOnce(2ms);
  worker.join();
  harness.join();
  EXPECT_EQ(result.outcome, JobOutcome::Failed);
  EXPECT_EQ(result.verdict, kVerdictFailed);

  r.monitor.EndJob(false);
  EXPECT_TRUE(r.session.IsOpen());  // the arrival that waited
  for (int i = 0; i < 2000 && r.target.Count("connected") < 2; ++i) ASSERT_TRUE(r.loop->RunOnce(5ms));
  EXPECT_EQ(r.target.Log(),
            (std::vector<std::string>{"opened", "connected", "closed-in-job", "waits", "opened", "connected"}));
  EXPECT_EQ(ClosedUseDetector::closedUse.load(), 0);
  std::remove(updateFile.c_str());
}

}  // namespace
}  // namespace orvane
