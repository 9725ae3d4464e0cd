#include "core/update/update_job.h"

#include <cstdio>
#include <memory>

#include "core/brands.h"
#include "core/device/byte_sum.h"
#include "core/update/scramble.h"

namespace orvane {

namespace {

constexpr int kMaxAttempts = 10;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

JobResult Verdict(const std::string& text, JobOutcome outcome = JobOutcome::Failed) {
  JobResult r;
  r.outcome = outcome;
  r.verdict = text;
  return r;
}

}  // namespace

void PadToPage(std::vector<uint8_t>& buffer) {
  const size_t padded = (buffer.size() + kPageSize - 1) / kPageSize * kPageSize;
  buffer.resize(padded, 0xFF);
}

bool CUpdateJob::WriteWithRetry(uint32_t firstPage, const std::vector<uint8_t>& buffer,
                                uint32_t lengthWord, uint8_t area, uint32_t checksum, bool retry) {
  CHidCmd& link = m_session.Link();
  const int64_t boot = int64_t(m_session.m_nBootVersion);
  const bool newBoot = BootVersionAtLeast(boot, 1008);
  const int attempts = (newBoot && retry) ? kMaxAttempts : 1;
  const uint32_t pages = uint32_t(buffer.size() / kPageSize);
  const uint32_t doneBefore = m_session.m_progress.m_nBytesDone.load();
  for (int attempt = 0; attempt < attempts; ++attempt) {
    // A closing front end gets no further attempts.
    if (attempt > 0 && m_bStopping) break;
    if (attempt > 0) m_session.m_progress.m_nBytesDone = doneBefore;
    auto lock = link.LockExchange();
    if (link.SendCommand(HID_CMD_WRITE_PAGES, firstPage, pages, lengthWord, area, checksum) &&
        link.PageWriteTaken(link.WritePages(pages, buffer), buffer.size(), boot))
      return true;
  }
  return false;
}

bool CUpdateJob::SendSection(UpdateSource& file, uint32_t offset, uint32_t address, uint32_t length,
                             bool scrambled, uint8_t area, bool retry) {
  if (!m_session.Link().IsOpen()) return false;
  std::vector<uint8_t> buffer(length);
  if (!file.ReadAt(offset, buffer.data(), length)) return false;
  PadToPage(buffer);
  const uint32_t checksum =
      scrambled ? ScrambledSum(buffer.data(), length, buffer.size()) : ByteSum(buffer);
  return WriteWithRetry(address / uint32_t(kPageSize), buffer, scrambled ? length : 0, area, checksum,
                        retry);
}

bool CUpdateJob::SendDeviceBlock(UpdateSource& file, const UpdateFileHeader& header) {
  const uint32_t length = header.Section1Length;
  std::vector<uint8_t> block(length);
  if (!file.ReadAt(header.Section1Offset, block.data(), length)) return false;

  std::vector<uint8_t> announcement(kPageSize, 0xFF);
  StoreLE32At(announcement.data(), kMarkerWord);
  StoreLE32At(announcement.data() + 4, length);
  StoreLE32At(announcement.data() + 8, ScrambledSum(block.data(), length, length));
  m_session.m_progress.m_nUpdatePhase = kPhaseAnnouncement;
  if (!WriteWithRetry(kAnnouncePage, announcement, 0, 1, ByteSum(announcement), true)) return false;

  PadToPage(block);
  m_session.m_progress.m_nUpdatePhase = kPhaseDeviceBlock;
  return WriteWithRetry(kDeviceBlockPage, block, length, 1, ScrambledSum(block.data(), length, block.size()),
                        true);
}

JobResult CUpdateJob::RunUpdate() {
  JobProgress& progress = m_session.m_progress;
  ArchiveSourceResult source;
  JobResult result;
  std::unique_ptr<std::FILE, FileCloser> file;

  // Source: the local file, else the archive named by the version check.
  std::string path = m_strLocalFile;
  if (path.empty()) {
    if (m_strArchiveUrl.empty() || !m_archiveSource) {
      result = Verdict(kVerdictChooseFile);
    } else {
      source = m_archiveSource(m_strArchiveUrl);
      if (!source.verdict.empty()) {
        result = Verdict(source.verdict);
        result.folderToShow = source.folderToShow;
        result.detail = source.detail;
      }
      path = source.updateFile;
    }
  }
  if (result.verdict.empty()) {
    file.reset(std::fopen(path.c_str(), "rb"));
    if (!file) {
      if (!source.archivePath.empty()) std::remove(source.archivePath.c_str());
      result = Verdict(kVerdictChooseFile);
    }
  }
  if (result.verdict.empty()) {
    FileUpdateSource reader(file.get());
    UpdateFileHeader header;
    UpdateFileChoice choice;
    result = (ReadUpdateHeader(reader, m_session, header, choice) == -1)
                 ? Verdict(std::string(kVerdictFormat) + "-1")
                 : Send(reader, header, choice);
  }

  // Every path ends here.
  file.reset();
  if (!source.extractionFolder.empty() && m_removeTree) m_removeTree(source.extractionFolder);
  progress.m_nUpdatePhase = kPhaseIdle;
  if (result.outcome != JobOutcome::Success) {
    progress.m_nBytesTotal = 0;
    progress.m_nBytesDone = 0;
  }
  if (result.detail.empty()) result.detail = source.detail;
  if (result.outcome == JobOutcome::Failed && !result.folderToShow.empty() && !m_bStopping)
    m_observer.OnShowFolder(result.folderToShow);
  return result;
}

JobResult CUpdateJob::Send(UpdateSource& file, const UpdateFileHeader& header,
                           const UpdateFileChoice& choice) {
  JobProgress& progress = m_session.m_progress;

  // The brand and total checks come before planning, so a file refused by
  // them never changes the device's records.
  if (!brands::IsUnbrandedBuild()) {
    const std::string_view build = brands::kBuildBrand;
    for (size_t i = 0; i < 8; ++i) {
      const uint8_t want = i < build.size() ? uint8_t(build[i]) : 0;
      if (header.Brand[i] != want) return Verdict(kVerdictWrongBrand);
    }
  }
  uint64_t total = 0;
  for (size_t i = 0; i < kUpdateSections; ++i) total += header.SectionLength(i);
  if (total == 0) return Verdict(kVerdictNoData);
  if (total > 0xFFFFFFFFu) return Verdict(kVerdictTooLarge);

  InfoPage info(m_session.m_InfoPage);
  AreaTargets targets;
  const PlanInputs in{m_session.Link(),
                      int64_t(m_session.m_nBootVersion),
                      m_session.m_nCapacity,
                      m_session.m_bInfoValid,
                      m_session.m_szBrand,
                      m_session.m_bBrandComplete,
                      choice.m_nDirectoryKind,
                      choice.m_nReservedSize,
                      &m_observer};
  const int plan = PlanDeviceAreas(
      in, {header.Section2Length, header.Section3Length, header.Section4Length, header.Section5Length},
      info, targets);
  if (plan == kPlanDeclined) return Verdict(kVerdictCancelled, JobOutcome::Cancelled);
  if (plan == kPlanWriteFailed) return Verdict(kVerdictFailed);
  if (plan == kPlanTooLarge) return Verdict(kVerdictTooLarge);
  m_session.m_InfoPage = info.bytes();
  // Sections go to whole pages from their target; a table (kept from the
  // device) whose areas do not start on a page would put data where the table
  // does not say it is.
  const std::pair<uint32_t, uint32_t> placed[] = {{header.Section2Length, targets.section2},
                                                  {header.Section3Length, targets.section3},
                                                  {header.Section4Length, targets.section4},
                                                  {header.Section5Length, targets.section5}};
  for (const auto& [length, target] : placed)
    if (length != 0 && target % kPageSize != 0) return Verdict(kVerdictFailed);

  progress.m_nBytesDone = 0;
  progress.m_nProgressTicks = 0;
  progress.m_nBytesTotal = uint32_t(total);
  m_observer.OnPhaseText(kPhaseTextUpdating);
  m_observer.OnSendingStarted(uint32_t(total));

  struct Step {
    uint8_t phase;
    uint32_t offset, length, address;
    bool scrambled;
    uint8_t area;
    bool retry;
  };
  auto send = [&](const Step& s) {
    if (s.length == 0) return true;
    progress.m_nUpdatePhase = s.phase;
    return SendSection(file, s.offset, s.address, s.length, s.scrambled, s.area, s.retry);
  };

  if (!send({kPhaseSection0, header.Section0Offset, header.Section0Length, 0, true, 0, true}))
    return Verdict(kVerdictFailed);
  if (header.Section1Length != 0 && !SendDeviceBlock(file, header)) return Verdict(kVerdictFailed);
  if (info.ReservedLength() != 0) {
    CHidCmd& link = m_session.Link();
    auto lock = link.LockExchange();
    if (link.SendCommand(HID_CMD_ERASE_SECTORS, info.ReservedStart() / kSectorSize,
                         info.ReservedLength() / kSectorSize, 0, 0, 0))
      link.ReadResponse(nullptr);
  }
  const Step rest[] = {
      {kPhaseSection2, header.Section2Offset, header.Section2Length, targets.section2, true, 1, false},
      {kPhaseSection3, header.Section3Offset, header.Section3Length, targets.section3, false, 1, false},
      {kPhaseSection4, header.Section4Offset, header.Section4Length, targets.section4, true, 1, false},
      {kPhaseSection5, header.Section5Offset, header.Section5Length, targets.section5, false, 0, false},
  };
  for (const Step& s : rest)
    if (!send(s)) return Verdict(kVerdictFailed);

  progress.m_nBytesDone = progress.m_nBytesTotal.load();
  m_observer.OnSendingDone();
  // A device that does not confirm the end of the update is not reported as updated.
  if (m_session.Link().Finish() != 1) return Verdict(kVerdictFailed);
  return Verdict(kVerdictSuccess, JobOutcome::Success);
}

}  // namespace orvane
