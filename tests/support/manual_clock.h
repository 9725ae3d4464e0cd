// A clock the test moves by hand.
#pragma once

#include <atomic>

#include "core/util/clock.h"

namespace orvane::test {

class ManualClock final : public IClock {
 public:
  MonoTime Now() const override { return MonoTime(std::chrono::milliseconds(m_ms.load())); }
  void Advance(std::chrono::milliseconds d) { m_ms += d.count(); }

 private:
  std::atomic<int64_t> m_ms{1000000};
};

}  // namespace orvane::test
