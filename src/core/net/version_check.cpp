#include "core/net/version_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "core/brand_urls.h"
#include "core/update/temp_dir.h"

namespace orvane {

namespace {

// A version file is two short lines; anything beyond this is not read.
constexpr size_t kVersionFileReadLimit = 64 * 1024;
// Pause after the archive's completion notice, so that a front end that
// handles the notice on its own thread has shown the final state first.
constexpr auto kDoneNoticePause = std::chrono::milliseconds(50);

bool BeginsWith(const BrandPage& brand, std::string_view text) {
  return text.size() <= brand.size() && std::memcmp(brand.data(), text.data(), text.size()) == 0;
}

// The first `n` bytes of a brand held in a zero-filled buffer of its own.
std::string Prefix(std::string_view text, size_t n) {
  std::string out(n, '\0');
  std::memcpy(out.data(), text.data(), std::min(n, text.size()));
  return out;
}

template <typename... A>
std::string Format(const char* format, A... args) {
  char buffer[64];
  const int n = std::snprintf(buffer, sizeof buffer, format, args...);
  if (n < 0) return std::string();
  return std::string(buffer, std::min(size_t(n), sizeof buffer - 1));
}

// Windows reads the file in text mode: a CR LF line end arrives as LF.
void NormaliseLineEnd(std::string& line) {
  if (line.size() >= 2 && line[line.size() - 2] == '\r' && line.back() == '\n') {
    line.erase(line.size() - 2, 1);
  }
}

}  // namespace

std::string GetVersionFileUrl(const BrandPage& brand, std::string_view buildBrand) {
  if (Prefix(buildBrand, 21) == std::string(21, ' ')) return std::string(brands::kTestNetUrl);
  if (BeginsWith(brand, brands::kBrand1)) return std::string(brands::kVersionUrl1);
  if (BeginsWith(brand, brands::kBrand2)) return std::string(brands::kVersionUrl2);
  if (BeginsWith(brand, brands::kBrand3)) return std::string(brands::kVersionUrl3);
  if (BeginsWith(brand, Prefix(buildBrand, 8))) return std::string(brands::kVersionUrl4);
  if (BeginsWith(brand, brands::kBrand5)) return std::string(brands::kVersionUrl5);
  if (BeginsWith(brand, brands::kBrand6)) return std::string(brands::kVersionUrl6);
  return std::string();
}

bool IsArchiveUrl(std::string_view url) {
  const size_t dot = url.rfind('.');
  if (dot == std::string_view::npos) return false;
  std::string ext(url.substr(dot + 1));
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return ext == "zip" || ext == "7z" || ext == "rar";
}

int32_t ParseLeadingNumber(std::string_view line) {
  size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\n' ||
                             line[i] == '\r' || line[i] == '\v' || line[i] == '\f'))
    ++i;
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) negative = line[i++] == '-';
  int64_t value = 0;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
    value = value * 10 + (line[i] - '0');
    if (value > int64_t(INT32_MAX) + 1) value = int64_t(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  return int32_t(value);
}

VersionFile ReadVersionFile(const std::string& path) {
  VersionFile result;
  result.statusText = std::string(kTextVersionFailed);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return result;
  std::string text;
  char buffer[4096];
  while (text.size() < kVersionFileReadLimit) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, size_t(n));
  }
  ::close(fd);
  ::unlink(path.c_str());

  // Whole lines, line ends included.
  auto nextLine = [&text](size_t& pos) {
    const size_t end = text.find('\n', pos);
    const size_t stop = end == std::string::npos ? text.size() : end + 1;
    std::string line = text.substr(pos, stop - pos);
    pos = stop;
    return line;
  };
  size_t pos = 0;
  std::string line1 = nextLine(pos);
  std::string line2 = nextLine(pos);
  if (line1.empty() || line2.empty()) return result;
  NormaliseLineEnd(line1);
  while (!line2.empty() && (line2.back() == '\r' || line2.back() == '\n')) line2.pop_back();

  result.ok = true;
  result.netVersion = ParseLeadingNumber(line1);
  result.archiveUrl = line2;
  result.statusText = std::string(kTextNetVersion) + line1;
  return result;
}

std::string DownloadProgressText(uint32_t rate, uint64_t received, uint64_t downloadSize) {
  return DownloadProgressTextAt(double(rate) / 100000.0, received, downloadSize);
}

std::string DownloadProgressTextAt(double speed, uint64_t received, uint64_t downloadSize) {
  std::string text = "下载进度";
  if (downloadSize == 0) {
    // No size announced: a percentage or a time left would be no number.
    text += Format("%llu", static_cast<unsigned long long>(received)) + "字节 ";
    text += "速度" + Format("%.02fKb/s  ", speed);
    return text;
  }
  const uint64_t remaining = received >= downloadSize ? 0 : downloadSize - received;
  const uint64_t seconds = speed > 0 ? uint64_t(double(remaining / 1024) / speed) : 0;
  text += Format("%.02f%% ", double(received) / double(downloadSize) * 100.0);
  text += "速度" + Format("%.02fKb/s  ", speed);
  text += "剩余时间";
  const uint64_t hours = seconds / 3600;
  if (hours > 0) text += Format("%llu", static_cast<unsigned long long>(hours)) + "小时";
  const uint64_t minutes = (seconds % 3600) / 60;
  if (minutes > 0) text += Format("%llu", static_cast<unsigned long long>(minutes)) + "分钟";
  text += Format("%llu", static_cast<unsigned long long>(seconds % 60)) + "秒";
  return text;
}

bool PlanArchivePaths(std::string_view archiveUrl, const std::string& tempDir, ArchivePaths& out) {
  const size_t slash = archiveUrl.rfind('/');
  out.name = std::string(slash == std::string_view::npos ? archiveUrl : archiveUrl.substr(slash + 1));
  if (out.name.empty() || out.name == "." || out.name == "..") return false;
  const size_t dot = out.name.rfind('.');
  out.base = dot == std::string::npos ? std::string() : out.name.substr(0, dot);
  std::string dir = tempDir;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  // "." or ".." as a folder name would leave the private directory.
  out.folder = (out.base.empty() || out.base == "." || out.base == "..") ? dir : dir + "/" + out.base;
  out.target = out.folder + "/" + out.name;
  out.extractFolder = out.folder + "/" + std::string(kExtractFolderName);
  return true;
}

std::string DownloadArchive(CHttpDownload& download, IDownloadNotify* owner,
                            const std::string& archiveUrl, ArchivePaths& paths) {
  if (archiveUrl.empty()) return std::string(kTextChooseCorrectFile);
  std::string error;
  const std::string tempDir = PrivateTempDir(&error);
  if (tempDir.empty()) return error;
  if (!PlanArchivePaths(archiveUrl, tempDir, paths)) return std::string(kTextChooseCorrectFile);
  if (::mkdir(paths.folder.c_str(), 0700) != 0 && errno != EEXIST)
    return "cannot create " + paths.folder + ": " + std::strerror(errno);
  struct stat st {};
  if (::lstat(paths.target.c_str(), &st) == 0) ::unlink(paths.target.c_str());

  DownloadRequest request;
  request.owner = owner;
  request.url = archiveUrl;
  request.targetPath = paths.target;
  download.Configure(request);
  std::string verdict = download.Start(true);
  if (!verdict.empty()) return verdict;
  std::this_thread::sleep_for(kDoneNoticePause);
  // The outcome comes straight from the finished download, not from a text
  // another thread may still be writing.
  const DownloadOutcome outcome = download.LastOutcome();
  if (!outcome.done || outcome.code != kDownloadOk) return std::string(kTextDownloadError);
  return std::string();
}

}  // namespace orvane
