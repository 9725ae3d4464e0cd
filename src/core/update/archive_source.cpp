#include "core/update/archive_source.h"

#include "core/net/version_check.h"

namespace orvane {

ArchiveSource MakeArchiveSource(ArchiveSourceOptions options) {
  return [options](const std::string& archiveUrl) {
    ArchiveSourceResult out;
    CHttpDownload own;
    CHttpDownload& download = options.download ? *options.download : own;
    ArchivePaths paths;
    // A front end that closes ends the download too, not only the unpacking.
    download.SetStopFlag(options.stop);
    out.verdict = DownloadArchive(download, options.downloadNotify, archiveUrl, paths);
    download.SetStopFlag(nullptr);
    // Set as soon as planned, so the job removes the extraction folder on
    // every outcome.
    out.extractionFolder = paths.extractFolder;
    out.archivePath = paths.target;
    if (!out.verdict.empty()) {
      const DownloadOutcome outcome = download.LastOutcome();
      if (outcome.done && outcome.code != kDownloadOk) out.detail = DescribeDownloadOutcome(outcome);
      return out;
    }
    // A download that is not an archive is never used as the update file.
    if (!IsArchiveType(paths.target)) {
      out.verdict = kVerdictNoUpdateFile;
      out.folderToShow = paths.folder;
      out.detail = paths.name + " is not a rar, zip or 7z archive";
      return out;
    }
    if (options.observer) options.observer->OnPhaseText(kPhaseTextUnpacking);
    const UnpackResult unpacked =
        UnpackUpdateArchive(options.archivers, paths.target, paths.extractFolder, options.limits, options.stop);
    switch (unpacked.status) {
      case UnpackResult::Status::Found:
        out.updateFile = unpacked.updateFile;
        out.detail = "unpacked with " + unpacked.archiver;
        break;
      case UnpackResult::Status::NoArchiver:
        out.verdict = kVerdictNoArchiver;
        out.folderToShow = paths.folder;
        break;
      case UnpackResult::Status::NoUpdateFile:
      case UnpackResult::Status::Refused:
        out.verdict = kVerdictNoUpdateFile;
        out.folderToShow = paths.folder;
        out.detail = unpacked.detail;
        break;
    }
    return out;
  };
}

}  // namespace orvane
