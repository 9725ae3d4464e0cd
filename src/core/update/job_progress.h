// Counters of an update job and the progress text the front ends show.
//
// Bytes are counted from the write-progress notices of the link, on the
// thread that runs the transfer, and only in the phases that carry counted
// data. The counters are atomic so a front end may read them from its own
// thread at any time.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace orvane {

enum UpdatePhase : uint8_t {
  kPhaseAnnouncement = 1,
  kPhaseDeviceBlock = 2,
  kPhaseSection3 = 4,
  kPhaseSection2 = 5,
  kPhaseSection4 = 6,
  kPhaseSection0 = 7,
  kPhaseSection5 = 8,
  kPhaseIdle = 0xFF,
};

// Whether write progress in `phase` counts towards the job's bytes.
constexpr bool IsCountedPhase(uint8_t phase) {
  return phase == kPhaseDeviceBlock || phase == kPhaseSection3 || phase == kPhaseSection2 ||
         phase == kPhaseSection4 || phase == kPhaseSection0 || phase == kPhaseSection5;
}

struct JobProgress {
  std::atomic<uint32_t> m_nBytesDone{0};
  std::atomic<uint32_t> m_nBytesTotal{0};
  std::atomic<uint32_t> m_nProgressTicks{0};
  std::atomic<uint8_t> m_nUpdatePhase{kPhaseIdle};

  // Handler of WM_HID_WRITE_PROGRESS.
  void OnHidWriteProgress(int32_t bytes) {
    if (bytes > 0 && IsCountedPhase(m_nUpdatePhase.load())) m_nBytesDone += uint32_t(bytes);
  }
  // Whether the periodic refresh should run (bytes remain to be sent).
  bool WantsRefresh() const {
    const uint32_t total = m_nBytesTotal.load();
    return total != 0 && m_nBytesDone.load() < total;
  }
};

// One refresh of the progress bar's text: a refresh every 166 ms, six to the
// second. The first refresh of a job keeps `barText` (the phase text on the
// bar) in `savedText`; while no byte has been counted that text is shown with
// the elapsed time. Increments m_nProgressTicks.
std::string UpdateProgressText(JobProgress& progress, std::string& savedText, const std::string& barText);

}  // namespace orvane
