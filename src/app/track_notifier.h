// Desktop notifications of the track that begins (org.freedesktop.Notifications on the session
// bus): title, artist and cover, each replacing the one before. Sent without waiting for the
// answer; nothing happens without a session bus or a notification server.
#pragma once

#include <QObject>
#include <cstdint>
#include <string>

namespace plumo {

class TPlayController;

class TTrackNotifier final : public QObject {
  Q_OBJECT
 public:
  explicit TTrackNotifier(QObject* parent = nullptr) : QObject(parent) {}
  // What plays may have changed: a track that began to be heard (a station's new title counts
  // as one) is shown.
  void Heard(const TPlayController& controller);
  // cover: an image file, or "" for the program's icon.
  void Notify(const std::string& title, const std::string& body, const std::string& cover);

 private:
  uint32_t FShown = 0;
  std::string FTrack;
};

}  // namespace plumo
