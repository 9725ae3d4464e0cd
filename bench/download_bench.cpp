// Download throughput: `orvane-cli download` against `curl -o`, fetching the
// same 256 MiB file from the same local server (127.0.0.1) in the same run.
//
//   bench_download [MIB] [ROUNDS]
//
// Each round runs both clients once, in alternating order; the best time of
// each counts, so a moment of load from elsewhere on the machine does not.
#include <httplib.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

// Runs argv with stdout and stderr sent to /dev/null; returns the seconds it
// took, or a negative number when it failed.
double RunTimed(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const auto t0 = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

off_t SizeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t mib = argc > 1 ? size_t(std::atoi(argv[1])) : 256;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  if (mib == 0 || mib > 4096) {
    std::fprintf(stderr, "bench_download: MIB must be 1..4096\n");
    return 2;
  }
  const size_t total = mib << 20;

  // One 1 MiB block repeated: the server costs the same for both clients.
  std::string block(1 << 20, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = char((i * 131 + (i >> 9)) & 0xFF);

  httplib::Server server;
  server.Get("/big.bin", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(total, "application/octet-stream",
                             [&](size_t offset, size_t length, httplib::DataSink& sink) {
                               const size_t at = offset % block.size();
                               const size_t n = std::min(length, block.size() - at);
                               return sink.write(block.data() + at, n);
                             });
  });
  const int port = server.bind_to_any_port("127.0.0.1");
  if (port <= 0) {
    std::fprintf(stderr, "bench_download: cannot bind 127.0.0.1\n");
    return 1;
  }
  std::thread serving([&] { server.listen_after_bind(); });
  while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));

  char dirTemplate[] = "/tmp/orvane-bench-XXXXXX";
  if (!::mkdtemp(dirTemplate)) {
    server.stop();
    serving.join();
    return 1;
  }
  const std::string dir = dirTemplate;
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/big.bin";
  const std::string ours = dir + "/orvane.bin", theirs = dir + "/curl.bin";

  double bestOurs = 1e9, bestCurl = 1e9;
  bool ok = true;
  for (int r = 0; r < rounds && ok; ++r) {
    for (int k = 0; k < 2 && ok; ++k) {
      const bool oursFirst = (r % 2 == 0) == (k == 0);
      double t;
      if (oursFirst) {
        t = RunTimed({ORVANE_CLI_PATH, "download", url, ours});
        ok = t > 0 && SizeOf(ours) == off_t(total);
        bestOurs = std::min(bestOurs, t);
        ::unlink(ours.c_str());
      } else {
        t = RunTimed({"curl", "-s", "-o", theirs, url});
        ok = t > 0 && SizeOf(theirs) == off_t(total);
        bestCurl = std::min(bestCurl, t);
        ::unlink(theirs.c_str());
      }
    }
  }
  ::rmdir(dir.c_str());
  server.stop();
  serving.join();
  if (!ok) {
    std::fprintf(stderr, "bench_download: a download failed (is curl installed?)\n");
    return 1;
  }
  const double oursMiBs = double(mib) / bestOurs, curlMiBs = double(mib) / bestCurl;
  std::printf("download_size: %zu MiB\n", mib);
  std::printf("orvane_cli_download: %.1f MiB/s\n", oursMiBs);
  std::printf("curl_download: %.1f MiB/s\n", curlMiBs);
  std::printf("throughput_ratio: %.3f ratio\n", oursMiBs / curlMiBs);
  return 0;
}
