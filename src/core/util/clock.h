// A monotonic clock that components with timers take as a parameter, so
// tests can move time by hand.
#pragma once

#include <chrono>

namespace orvane {

using MonoClock = std::chrono::steady_clock;
using MonoTime = MonoClock::time_point;

class IClock {
 public:
  virtual ~IClock() = default;
  virtual MonoTime Now() const = 0;
};

class CSteadyClock final : public IClock {
 public:
  MonoTime Now() const override { return MonoClock::now(); }
};

}  // namespace orvane
