// The online version check without widgets: which version file a device's
// brand asks for, reading that file, the texts the front ends show, the
// version question of the Send button, the download progress text and the
// archive download of an update job.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/brands.h"
#include "core/net/http_download.h"

namespace orvane {

// Texts of the online check (UTF-8).
inline constexpr std::string_view kTextChooseUpdateFile = "请选择更新文件";
inline constexpr std::string_view kTextFetchingVersion = "正在获取网络版本，请稍候...";
inline constexpr std::string_view kTextChooseOrConnect = "请选择更新文件或连接机器自动网络检测！";
inline constexpr std::string_view kTextVersionFailed = "获取版本失败！请使用本地文件更新！";
inline constexpr std::string_view kTextNetVersion = "网络版本号：";
inline constexpr std::string_view kTextDownloadError = "下载出错，请使用本地文件更新！";
inline constexpr std::string_view kTextAlreadyNewest = "当前版本已经是最新，是否升级？";
inline constexpr std::string_view kTextChooseCorrectFile = "请选择正确的更新文件！";
inline constexpr std::string_view kCaption = "数据更新服务";

// Name of the version file in the private temporary directory.
inline constexpr std::string_view kVersionFileName = "Tmp";
// Extraction folder inside an archive's folder.
inline constexpr std::string_view kExtractFolderName = "TmpTmp";

using BrandPage = std::array<uint8_t, 256>;

// The brand table: the URL of the version file for the device whose brand page
// is `brand` (zero-terminated GBK), for a tool built with `buildBrand`. Empty
// when no row matches: no online check then.
std::string GetVersionFileUrl(const BrandPage& brand,
                              std::string_view buildBrand = brands::kBuildBrand);

// Whether a URL names an archive itself (extension zip, 7z or rar, any case).
bool IsArchiveUrl(std::string_view url);

struct VersionFile {
  bool ok = false;          // two lines read
  int32_t netVersion = -1;  // the number at the start of line 1 (0: none), -1 on failure
  std::string archiveUrl;   // line 2 without its line end
  std::string statusText;   // the status line to show
};

// Reads the version file at `path` and deletes it.
VersionFile ReadVersionFile(const std::string& path);

// The decimal number at the start of `line` (leading blanks skipped), 0 when
// there is none; clamped to the 32-bit range.
int32_t ParseLeadingNumber(std::string_view line);

// Whether the Send button asks "当前版本已经是最新，是否升级？" first.
inline bool NeedsVersionPrompt(int32_t netVersion, int32_t deviceVersion) {
  return netVersion > 0 && deviceVersion > 0 && deviceVersion >= netVersion;
}

// The progress bar's text for a WM_DOWNLOAD_PROGRESS notice (rate in
// KB/s x 100000, bytes received) of a download whose announced size is
// `downloadSize`. With no size announced (0) it shows the bytes received and
// the speed only.
std::string DownloadProgressText(uint32_t rate, uint64_t received, uint64_t downloadSize);
// The same with the speed in KB/s, for a front end that measures it itself
// (the notice's 32 bits end at 42949.67 KB/s).
std::string DownloadProgressTextAt(double kbPerSecond, uint64_t received, uint64_t downloadSize);

// Where an update job puts a downloaded archive: name = the URL's text after
// its last "/", base = name up to its last dot, folder = temporary directory +
// base (the directory itself when the name has no dot), target = folder/name,
// extraction folder = folder/TmpTmp. `tempDir` ends with "/". False for a name
// that is no file name (empty, "." or "..").
struct ArchivePaths {
  std::string name, base, folder, target, extractFolder;
};
bool PlanArchivePaths(std::string_view archiveUrl, const std::string& tempDir, ArchivePaths& out);

// The source step of an update job for an online archive: plans the paths in
// the private temporary directory, creates the folder, removes an old copy and
// fetches the archive synchronously with `download`, whose notices go to
// `owner`. Returns the job's verdict: empty when the archive is in
// `paths.target`, else the text to show.
std::string DownloadArchive(CHttpDownload& download, IDownloadNotify* owner,
                            const std::string& archiveUrl, ArchivePaths& paths);

}  // namespace orvane
