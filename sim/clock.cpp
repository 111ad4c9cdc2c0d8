#include "sim/clock.h"

namespace sim {

std::shared_ptr<const Clock> DefaultClock() {
  static const auto clock = std::make_shared<const SteadyClock>();
  return clock;
}

}  // namespace sim
