#include "wake_event.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>

namespace plumo {

TWakeEvent::TWakeEvent(std::function<void()> on_wake)
    : FFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), FOnWake(std::move(on_wake)) {
  if (FFd < 0) throw std::runtime_error("eventfd failed");
  FNotifier = std::make_unique<QSocketNotifier>(FFd, QSocketNotifier::Read);
  connect(FNotifier.get(), &QSocketNotifier::activated, this, [this] {
    uint64_t count;
    while (::read(FFd, &count, sizeof count) < 0 && errno == EINTR) {
    }
    if (FOnWake) FOnWake();
  });
}

TWakeEvent::~TWakeEvent() {
  FNotifier.reset();
  ::close(FFd);
}

void TWakeEvent::Set() {
  const uint64_t one = 1;
  // A full counter (never in practice) already means "wake up".
  while (::write(FFd, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

}  // namespace plumo
