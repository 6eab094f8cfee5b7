#include "track_notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

#include "cover_art.h"
#include "forms.h"
#include "play_controller.h"
#include "session_bus.h"

namespace plumo {

void TTrackNotifier::Heard(const TPlayController& c) {
  const TMP3Player& player = c.Player();
  if (c.PlayState() != psPlaying || player.Status() != mpsPlaying) return;
  const std::string track = std::to_string(c.NowIndex()) + "\n" + player.FileName() + "\n" + c.SongTitle();
  if (track == FTrack) return;
  FTrack = track;
  std::string body = player.Artist();
  if (!player.Album().empty()) body += (body.empty() ? "" : " — ") + player.Album();
  Notify(c.SongTitle(), body, CoverArtFile(player.Source().Info().Picture()));
}

void TTrackNotifier::Notify(const std::string& title, const std::string& body, const std::string& cover) {
  if (!platform::SessionBusExpected()) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  QVariantMap hints;
  if (!cover.empty()) hints.insert(QStringLiteral("image-path"), ToQ(cover));
  hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("plumo"));
  call << QStringLiteral("PLUMO") << FShown << (cover.empty() ? QStringLiteral("plumo") : ToQ(cover)) << ToQ(title)
       << ToQ(body) << QStringList() << hints << -1;
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);  // deletes itself below
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* done) {
    const QDBusPendingReply<uint32_t> reply = *done;
    if (reply.isValid()) FShown = reply.value();
    done->deleteLater();
  });
}

}  // namespace plumo
