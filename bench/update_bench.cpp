// A complete update of an ~8 MiB update file to the virtual device.
//
//   update_latency_ratio: with 1 ms per report, elapsed time over reports x 1 ms
//     (1.0 means the job adds nothing to the wire's own pace; goal <= 1.02).
//   cli_update_peak_rss: peak resident memory of `orvane-cli update` for the
//     same file (goal < 48 MiB).
//
// bench_update [--quick]: --quick uses 100 us per report instead of 1 ms.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "core/brands.h"
#include "core/session/device_session.h"
#include "core/update/update_job.h"
#include "sim/sample_update.h"
#include "sim/virtual_device.h"
#include "sim/virtual_hid_io.h"

using namespace orvane;

extern char** environ;

namespace {

struct Yes : IUpdateJobObserver {
  bool AskYesNo(const std::string&) override { return true; }
};

sim::SampleSizes EightMiB() {
  sim::SampleSizes s;
  s.section0 = 32 * 1024;
  s.block = 64 * 1024 + 100;
  s.otherBlock = 4 * 1024;
  s.reserved = 0x3000;
  s.section2 = 1024 * 1024;
  s.section3 = 2 * 1024 * 1024;
  s.section4 = 4608 * 1024 + 3;
  s.section5 = 256 * 1024;
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const auto latency = std::chrono::microseconds(quick ? 100 : 1000);
  const std::string dir = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
  const std::string file = dir + "/orvane-bench-" + std::to_string(getpid()) + ".qzv";
  const std::string image = dir + "/orvane-bench-" + std::to_string(getpid()) + ".img";

  std::string error;
  const auto bytes = BuildUpdateFile(
      sim::SampleUpdateContents(EightMiB(), {brands::kBuildBrand.begin(), brands::kBuildBrand.end()}), &error);
  if (!bytes) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  std::printf("update_file_size: %.2f MiB\n", bytes->size() / 1048576.0);

  // In-process job against a paced device.
  {
    std::shared_ptr<sim::CVirtualDevice> device(sim::MakeFactoryDevice());
    CDeviceSession session(std::make_unique<sim::CVirtualHidIO>(device));
    if (!session.Open() || !session.RunConnectSequence()) return std::fprintf(stderr, "connect failed\n"), 1;
    device->SetLatency(latency);
    Yes yes;
    CUpdateJob job(session, yes);
    job.m_strLocalFile = file;
    const uint64_t reportsBefore = device->GetStats().reports;
    const auto t0 = std::chrono::steady_clock::now();
    const JobResult r = job.RunUpdate();
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (r.outcome != JobOutcome::Success) return std::fprintf(stderr, "update failed: %s\n", r.verdict.c_str()), 1;
    const uint64_t reports = device->GetStats().reports - reportsBefore;
    std::printf("update_reports: %llu reports\n", (unsigned long long)reports);
    std::printf("update_elapsed: %.2f s\n", elapsed);
    std::printf("update_latency_us: %lld us\n", (long long)latency.count());
    std::printf("update_latency_ratio: %.4f x\n", elapsed / (reports * (latency.count() / 1e6)));
  }

  // orvane-cli in a child process, for its peak memory.
  {
    std::string imageArg = "--virtual-device=" + image;
    const char* args[] = {ORVANE_CLI_PATH, imageArg.c_str(), "update", file.c_str(), "--yes", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    if (posix_spawn(&pid, ORVANE_CLI_PATH, &actions, nullptr, const_cast<char**>(args), environ) != 0)
      return std::fprintf(stderr, "cannot start orvane-cli\n"), 1;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::fprintf(stderr, "orvane-cli update failed\n"), 1;
    std::printf("cli_update_peak_rss: %.1f MiB\n", usage.ru_maxrss / 1024.0);
  }
  std::remove(file.c_str());
  std::remove(image.c_str());
  return 0;
}
