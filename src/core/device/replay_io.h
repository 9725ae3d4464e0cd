// Replays a trace written by CTraceHidIO (--trace FILE): reads return the
// reports the device sent, writes must match the reports the host sent. Turns
// an exchange captured at a service desk into a test of the host side.
#pragma once

#include <string>
#include <vector>

#include "core/device/hid_io.h"

namespace orvane {

struct TraceEvent {
  enum class Kind { Out, OutFail, In, InFail, Open, OpenFail, Close };
  Kind kind;
  std::vector<uint8_t> bytes;  // reports; the path for Open/OpenFail
};

// Parses a trace; false with `error` naming the line when it is malformed.
bool ParseTrace(const std::string& text, std::vector<TraceEvent>& events, std::string* error);

class CReplayHidIO final : public CHidIO {
 public:
  explicit CReplayHidIO(std::vector<TraceEvent> events);

  std::vector<std::string> EnumerateTargets() override;
  bool OpenPath(const std::string& path) override;
  void Close() override;
  bool IsOpen() const override { return m_open; }
  bool ReadReport(Report& buffer, size_t* bytesRead) override;
  bool WriteReport(const Report& buffer, size_t* bytesWritten) override;
  OpenError LastOpenError() const override { return OpenError::NotFound; }

  // What went differently from the trace (empty when the host did exactly
  // what it did when the trace was taken), and whether every event was used.
  const std::vector<std::string>& Mismatches() const { return m_mismatches; }
  bool Exhausted() const;

 private:
  // The next event that moves a report, skipping opens and closes.
  const TraceEvent* NextTransfer();

  std::vector<TraceEvent> m_events;
  size_t m_next = 0;
  bool m_open = false;
  std::vector<std::string> m_mismatches;
};

}  // namespace orvane
