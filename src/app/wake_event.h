// Wakes the main thread from any thread: an eventfd watched by the Qt event loop. The player's
// worker threads use it to have their notifications pumped; a kernel object rather than a
// posted Qt event, so the hand-over is the same under every tool that checks threads.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace plumo {

class TWakeEvent final : public QObject {
  Q_OBJECT
 public:
  // on_wake runs on the thread that made the object, once per batch of Set calls.
  explicit TWakeEvent(std::function<void()> on_wake);
  ~TWakeEvent() override;
  TWakeEvent(const TWakeEvent&) = delete;
  TWakeEvent& operator=(const TWakeEvent&) = delete;

  // Any thread.
  void Set();

 private:
  int FFd;
  std::function<void()> FOnWake;
  std::unique_ptr<QSocketNotifier> FNotifier;
};

}  // namespace plumo
