#include <gtest/gtest.h>

#include "core/update/job_progress.h"

namespace orvane {
namespace {

TEST(JobProgress, CountsOnlyPhasesWithCountedData) {
  JobProgress p;
  for (uint8_t phase : {uint8_t(1), uint8_t(3), uint8_t(kPhaseIdle)}) {
    p.m_nUpdatePhase = phase;
    p.OnHidWriteProgress(64);
  }
  EXPECT_EQ(p.m_nBytesDone.load(), 0u);
  for (uint8_t phase : {2, 4, 5, 6, 7, 8}) {
    p.m_nUpdatePhase = phase;
    p.OnHidWriteProgress(64);
  }
  EXPECT_EQ(p.m_nBytesDone.load(), 6u * 64u);
}

TEST(JobProgress, ProgressText) {
  JobProgress p;
  std::string saved;
  p.m_nBytesTotal = 12288;
  // Before any byte: the phase text of the first refresh, with the time.
  EXPECT_EQ(UpdateProgressText(p, saved, "正在更新"), "正在更新   时间 0 秒");
  for (int i = 0; i < 29; ++i) UpdateProgressText(p, saved, "other");
  EXPECT_EQ(saved, "正在更新");
  p.m_nBytesDone = 1536;
  EXPECT_TRUE(p.WantsRefresh());
  EXPECT_EQ(UpdateProgressText(p, saved, ""), "已更新 12.50%   时间 5 秒");  // 31st refresh
  p.m_nBytesDone = 12288;
  EXPECT_FALSE(p.WantsRefresh());
  EXPECT_EQ(UpdateProgressText(p, saved, ""), "已更新 100.00%   时间 5 秒");
}

}  // namespace
}  // namespace orvane
