// The online source of an update job: downloads the archive named by the
// version file into its work folder, checks its type, unpacks it with the
// archivers and names the update file found. Front ends get a ready
// ArchiveSource from MakeArchiveSource.
#pragma once

#include <atomic>

#include "core/net/http_download.h"
#include "core/update/archivers.h"
#include "core/update/update_job.h"

namespace orvane {

struct ArchiveSourceOptions {
  // The front end's downloader; null: one of the source's own for each job.
  CHttpDownload* download = nullptr;
  IDownloadNotify* downloadNotify = nullptr;  // notices of the archive download
  IUpdateJobObserver* observer = nullptr;     // the unpacking phase text
  ArchiverTable archivers = PlatformArchivers();
  ExtractLimits limits;
  const std::atomic<bool>* stop = nullptr;  // ends a running archiver (the front end is closing)
};

ArchiveSource MakeArchiveSource(ArchiveSourceOptions options);

}  // namespace orvane
