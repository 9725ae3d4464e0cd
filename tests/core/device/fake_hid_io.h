// A scripted CHidIO for protocol tests: reads come from a queue, writes are
// recorded, and any transfer can be made to fail.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/device/hid_cmd.h"
#include "core/util/bytes.h"

namespace orvane::test {

struct ScriptedRead {
  bool ok = true;
  Report report{};
  size_t count = kReportSize;
};

class FakeHidIO : public CHidIO {
 public:
  std::vector<std::string> targets = {"fake-1"};
  std::vector<std::string> refusePaths;  // OpenPath fails for these
  std::deque<ScriptedRead> reads;
  std::vector<Report> writes;
  std::vector<std::string> opened;
  int failWriteAt = -1;  // 0-based index of the write that fails
  std::function<void(size_t writeIndex)> onWrite;
  bool open = false;

  std::vector<std::string> EnumerateTargets() override { return targets; }
  bool OpenPath(const std::string& path) override {
    for (const auto& p : refusePaths)
      if (p == path) return false;
    opened.push_back(path);
    open = true;
    return true;
  }
  void Close() override { open = false; }
  bool IsOpen() const override { return open; }
  bool ReadReport(Report& buffer, size_t* n) override {
    if (n) *n = 0;
    if (reads.empty()) return false;
    ScriptedRead r = reads.front();
    reads.pop_front();
    if (!r.ok) return false;
    buffer = r.report;
    if (n) *n = r.count;
    return true;
  }
  bool WriteReport(const Report& buffer, size_t* n) override {
    if (n) *n = 0;
    const size_t index = writes.size();
    if (int(index) == failWriteAt) return false;
    writes.push_back(buffer);
    if (onWrite) onWrite(index);
    if (n) *n = kReportSize;
    return true;
  }
};

inline Report ReplyReport(uint8_t code, uint32_t status, uint32_t result) {
  HidCommandPacket p;
  p.Code = code;
  p.Param0 = status;
  p.Param1 = result;
  p.Seal();
  Report r{};
  const auto bytes = p.Store();
  std::copy(bytes.begin(), bytes.end(), r.begin() + 1);
  return r;
}

inline Report DataReport(uint8_t fill) {
  Report r{};
  std::fill(r.begin() + 1, r.end(), fill);
  return r;
}

// Records every notice posted by a transfer.
struct RecordingNotify : IHidNotify {
  std::vector<std::pair<unsigned, int32_t>> posts;
  void Post(unsigned message, uint32_t, int32_t lParam) override { posts.emplace_back(message, lParam); }
};

}  // namespace orvane::test
