#include "core/update/job_progress.h"

#include <cstdio>

namespace orvane {

std::string UpdateProgressText(JobProgress& progress, std::string& savedText, const std::string& barText) {
  if (progress.m_nProgressTicks.load() == 0) savedText = barText.substr(0, 1023);
  const uint32_t ticks = ++progress.m_nProgressTicks;
  const int seconds = int(ticks / 6);
  const uint32_t done = progress.m_nBytesDone.load();
  const uint32_t total = progress.m_nBytesTotal.load();
  char number[64];
  std::string text;
  if (done != 0) {
    const double percent = total ? double(done) / double(total) * 100.0 : 0.0;
    text = "已更新";
    std::snprintf(number, sizeof number, " %.02f%%   ", percent);
    text += number;
    text += "时间";
    std::snprintf(number, sizeof number, " %d ", seconds);
    text += number;
    text += "秒";
  } else {
    text = savedText;
    text += "   时间";
    std::snprintf(number, sizeof number, " %d ", seconds);
    text += number;
    text += "秒";
  }
  return text;
}

}  // namespace orvane
