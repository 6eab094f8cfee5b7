// Follows the notification area on a StatusNotifier desktop: the watcher and its hosts coming
// and going are told as they happen, where otherwise the panel would have to ask every second
// (Qt asks the watcher over a D-Bus connection it opens for each question, milliseconds of
// processor time). Without a session bus or a watcher there is nothing to follow.
#pragma once

#include <QObject>
#include <functional>
#include <memory>

namespace plumo {

class TTrayWatch final : public QObject {
  Q_OBJECT
 public:
  // The watch, or nullptr where there is nothing to follow; on_change runs on each change.
  static std::unique_ptr<TTrayWatch> Start(std::function<void()> on_change);

 private slots:
  void HostChanged();

 private:
  explicit TTrayWatch(std::function<void()> on_change) : FOnChange(std::move(on_change)) {}

  std::function<void()> FOnChange;
};

}  // namespace plumo
