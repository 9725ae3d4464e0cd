// One update job: from the source (a local update file, or an archive fetched
// and unpacked by the archive source) to the verdict. Synchronous; front ends
// run it on a worker thread and learn about it through the observer.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/session/device_session.h"
#include "core/update/area_plan.h"
#include "core/update/file_helpers.h"
#include "core/update/update_file.h"

namespace orvane {

// Verdict texts.
inline constexpr const char* kVerdictSuccess = "更新成功！";
inline constexpr const char* kVerdictChooseFile = "请选择正确的更新文件！";
inline constexpr const char* kVerdictFormat = "更新文件格式出错！";
inline constexpr const char* kVerdictFailed = "更新失败！";
inline constexpr const char* kVerdictTooLarge = "数据已超过长度！！！";
inline constexpr const char* kVerdictWrongBrand = "版本不符合！";
inline constexpr const char* kVerdictNoData = "未找到更新数据！";
inline constexpr const char* kVerdictCancelled = "已取消更新，没有写入任何数据。";
inline constexpr const char* kPhaseTextUpdating = "正在更新";

// Observer of a job; called on the job's thread. Questions come through
// IUpdateQuestions and may block until answered.
class IUpdateJobObserver : public IUpdateQuestions {
 public:
  // The text the progress bar shows for a phase ("正在更新", ...).
  virtual void OnPhaseText(const std::string& text) { (void)text; }
  // Sending begins: the bar's range is 0..total.
  virtual void OnSendingStarted(uint32_t total) { (void)total; }
  // The last byte went out; the front end refreshes the progress text once.
  virtual void OnSendingDone() {}
  // A failed job asks to open `folder` (the work folder of a downloaded
  // archive) so that the user can unpack it by hand. Called last, after the
  // verdict is settled and never while the front end is closing; a window
  // opens it in the file manager after showing the verdict.
  virtual void OnShowFolder(const std::string& folder) { (void)folder; }
};

enum class JobOutcome { Success, Failed, Cancelled };

struct JobResult {
  JobOutcome outcome = JobOutcome::Failed;
  std::string verdict;       // the text shown to the user
  std::string folderToShow;  // a folder to open for unpacking by hand, or empty
  std::string detail;        // for logs and the command line: why, or how the archive was unpacked
};

// The archive path of the source step: downloads and unpacks, then names the
// update file found. Empty `verdict` means `updateFile` is usable.
struct ArchiveSourceResult {
  std::string updateFile;
  std::string verdict;
  std::string folderToShow;
  std::string extractionFolder;  // removed at the end of the job
  std::string archivePath;       // deleted when the update file cannot be opened
  std::string detail;
};
using ArchiveSource = std::function<ArchiveSourceResult(const std::string& archiveUrl)>;
// Removes a folder tree (the extraction folder) at the end of a job.
using TreeRemover = std::function<void(const std::string& folder)>;

// A buffer grown to the next multiple of 256, the added bytes 0xFF.
void PadToPage(std::vector<uint8_t>& buffer);

class CUpdateJob {
 public:
  CUpdateJob(CDeviceSession& session, IUpdateJobObserver& observer)
      : m_session(session), m_observer(observer) {}

  std::string m_strLocalFile;
  std::string m_strArchiveUrl;
  ArchiveSource m_archiveSource;
  TreeRemover m_removeTree = DeleteTree;
  // Set when the front end is closing: no retries, no message.
  std::atomic<bool> m_bStopping{false};

  JobResult RunUpdate();

  // Sends one section to consecutive device pages.
  bool SendSection(UpdateSource& file, uint32_t offset, uint32_t address, uint32_t length,
                   bool scrambled, uint8_t area, bool retry);
  // Sends the device block with its announcement page.
  bool SendDeviceBlock(UpdateSource& file, const UpdateFileHeader& header);

 private:
  // One write of `buffer` as `pages` pages with the given words; attempts as
  // the boot version and the retry flag allow.
  bool WriteWithRetry(uint32_t firstPage, const std::vector<uint8_t>& buffer, uint32_t lengthWord,
                      uint8_t area, uint32_t checksum, bool retry);
  JobResult Send(UpdateSource& file, const UpdateFileHeader& header, const UpdateFileChoice& choice);

  CDeviceSession& m_session;
  IUpdateJobObserver& m_observer;
};

}  // namespace orvane
