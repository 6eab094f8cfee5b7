#include "mpris.h"

#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "cover_art.h"
#include "forms.h"
#include "intake.h"
#include "named_stream.h"
#include "panel_form.h"
#include "play_controller.h"
#include "session_bus.h"

namespace plumo {

namespace {

constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";

}  // namespace

// org.mpris.MediaPlayer2
class TMprisRoot final : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
  Q_PROPERTY(bool CanQuit READ CanQuit)
  Q_PROPERTY(bool CanRaise READ CanRaise)
  Q_PROPERTY(bool HasTrackList READ HasTrackList)
  Q_PROPERTY(QString Identity READ Identity)
  Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
  Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
  Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)
 public:
  TMprisRoot(TMprisService& service, QObject* object) : QDBusAbstractAdaptor(object), FService(service) {}
  bool CanQuit() const { return true; }
  bool CanRaise() const { return true; }
  bool HasTrackList() const { return false; }
  QString Identity() const { return QStringLiteral("PLUMO"); }
  QString DesktopEntry() const { return QStringLiteral("plumo"); }
  QStringList SupportedUriSchemes() const { return {QStringLiteral("file"), QStringLiteral("http"), QStringLiteral("https")}; }
  QStringList SupportedMimeTypes() const {
    return {QStringLiteral("audio/mpeg"), QStringLiteral("audio/x-mpegurl"), QStringLiteral("audio/mpegurl"),
            QStringLiteral("application/x-mpegurl"), QStringLiteral("application/vnd.apple.mpegurl"),
            QStringLiteral("audio/x-scpls")};
  }
 public slots:
  void Raise() { FService.Raise(); }
  void Quit() { FService.Quit(); }

 private:
  TMprisService& FService;
};

// org.mpris.MediaPlayer2.Player
class TMprisPlayer final : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
  Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
  Q_PROPERTY(double Rate READ Rate WRITE SetRate)
  Q_PROPERTY(QVariantMap Metadata READ Metadata)
  Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
  Q_PROPERTY(qlonglong Position READ Position)
  Q_PROPERTY(double MinimumRate READ Rate)
  Q_PROPERTY(double MaximumRate READ Rate)
  Q_PROPERTY(bool CanGoNext READ HasEntries)
  Q_PROPERTY(bool CanGoPrevious READ HasEntries)
  Q_PROPERTY(bool CanPlay READ HasEntries)
  Q_PROPERTY(bool CanPause READ HasEntries)
  Q_PROPERTY(bool CanSeek READ CanSeek)
  Q_PROPERTY(bool CanControl READ CanControl)
  Q_PROPERTY(bool Shuffle READ Shuffle WRITE SetShuffle)
  Q_PROPERTY(QString LoopStatus READ LoopStatus WRITE SetLoopStatus)
 public:
  TMprisPlayer(TMprisService& service, QObject* object) : QDBusAbstractAdaptor(object), FService(service) {}
  QString PlaybackStatus() const { return FService.PlaybackStatus(); }
  double Rate() const { return 1.0; }
  // The one rate there is can be asked for; others are ignored.
  void SetRate(double) {}
  QVariantMap Metadata() const { return FService.Metadata(); }
  double Volume() const { return FService.Volume(); }
  void SetVolume(double volume) { FService.SetVolume(volume); }
  qlonglong Position() const { return FService.PositionMicroseconds(); }
  bool HasEntries() const { return FService.HasEntries(); }
  bool CanSeek() const { return FService.CanSeek(); }
  bool CanControl() const { return true; }
  bool Shuffle() const { return FService.Shuffle(); }
  void SetShuffle(bool on) { FService.SetShuffle(on); }
  QString LoopStatus() const { return FService.LoopStatus(); }
  void SetLoopStatus(const QString& status) { FService.SetLoopStatus(status); }
 public slots:
  void Next() { FService.Next(); }
  void Previous() { FService.Previous(); }
  void Pause() { FService.Pause(); }
  void PlayPause() { FService.PlayPause(); }
  void Stop() { FService.Stop(); }
  void Play() { FService.Play(); }
  void Seek(qlonglong offset) { FService.Seek(offset); }
  void SetPosition(const QDBusObjectPath& track, qlonglong position) { FService.SetPosition(track.path(), position); }
  void OpenUri(const QString& uri) { FService.OpenUri(uri); }
 signals:
  void Seeked(qlonglong position);

 private:
  TMprisService& FService;
};

TMprisService::TMprisService(TPlatform& form, QDBusConnection connection)
    : TMprisService(form.Controller(),
                    TMprisWindow{[&form] { form.ShowPanel(); },
                                 // After the reply has gone out.
                                 [&form] { QTimer::singleShot(0, &form, [&form] { form.CloseForm(); }); }},
                    std::move(connection)) {}

TMprisService::TMprisService(TPlayController& controller, TMprisWindow window, QDBusConnection connection)
    : FController(controller), FWindow(std::move(window)), FConnection(std::move(connection)) {
  new TMprisRoot(*this, this);    // owned by this object, as Qt's adaptors are
  new TMprisPlayer(*this, this);
  UpdateMetadata();
  FSentStatus = PlaybackStatus();
  FSentMetadataKey = FMetadataKey;
  FSentVolume = Volume();
  FSentHasEntries = HasEntries();
  FSentCanSeek = CanSeek();
  FSentShuffle = Shuffle();
  FSentLoopStatus = LoopStatus();
  FRegistered = FConnection.isConnected() &&
                FConnection.registerObject(QString::fromLatin1(kObjectPath), this, QDBusConnection::ExportAdaptors) &&
                FConnection.registerService(QString::fromLatin1(kServiceName));
  if (FRegistered) {
    FController.OnChange = [this] { Changed(); };
    FController.OnSeek = [this] { SendSeeked(); };
    // The new track is heard some way into it already: the desktop learns where, after the
    // metadata that names it, so that the two arrive as one consistent change.
    FController.OnJoin = [this] { FSeekedAfterChange = true; };
  }
}

TMprisService::~TMprisService() {
  FController.OnChange = nullptr;
  FController.OnSeek = nullptr;
  FController.OnJoin = nullptr;
  if (FRegistered) {
    FConnection.unregisterService(QString::fromLatin1(kServiceName));
    FConnection.unregisterObject(QString::fromLatin1(kObjectPath));
  }
}

std::unique_ptr<TMprisService> TMprisService::OnSessionBus(TPlatform& form) {
  if (!platform::SessionBusExpected()) return nullptr;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return nullptr;
  auto service = std::make_unique<TMprisService>(form, bus);
  if (!service->Registered()) return nullptr;
  return service;
}

template <class F>
void TMprisService::Run(F&& f) {
  try {
    f();
  } catch (...) {
    if (FController.Report) FController.Report(std::current_exception());
  }
}

QString TMprisService::PlaybackStatus() const {
  // After a failure (the device lost) the panel shows the state the user left it in until the
  // user acts; the player has stopped, and the desktop is told so.
  if (FController.Failed()) return QStringLiteral("Stopped");
  switch (FController.PlayState()) {
    case psPlaying: return QStringLiteral("Playing");
    case psPaused: return QStringLiteral("Paused");
    default: return QStringLiteral("Stopped");
  }
}

double TMprisService::Volume() const { return FController.VolLevel() / 100.0; }

bool TMprisService::HasEntries() const { return !FController.PlayList().empty(); }

int64_t TMprisService::PositionMicroseconds() const {
  return static_cast<int64_t>(FController.Player().Position()) * 1000;
}

bool TMprisService::CanSeek() const { return FController.Player().CanSeek(); }

void TMprisService::Seek(int64_t offset_us) {
  Run([&] {
    if (!FController.CanSeekNow()) return;
    const int64_t target = PositionMicroseconds() + offset_us;
    // Past the end the track is over: the next one, as the media controls' Seek asks.
    if (target > FController.Player().LengthMicroseconds()) Skip(true);
    else SeekMicroseconds(std::max<int64_t>(0, target));
  });
}

void TMprisService::SetPosition(const QString& track_id, int64_t position_us) {
  Run([&] {
    // A request meant for a track no longer heard is stale.
    if (track_id != FMetadata.value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>().path()) return;
    if (position_us < 0 || position_us > FController.Player().LengthMicroseconds()) return;
    SeekMicroseconds(position_us);
  });
}

void TMprisService::SeekMicroseconds(int64_t position_us) {
  const int64_t rate = FController.Player().Source().SampleRate();
  // Rounded to the nearest sample; the Seeked signal comes from the form's seek.
  FController.SeekTo((position_us * rate + 500000) / 1000000);
}

void TMprisService::SendSeeked() {
  if (!FRegistered) return;
  QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kObjectPath), QString::fromLatin1(kPlayerInterface),
                                                   QStringLiteral("Seeked"));
  signal << static_cast<qlonglong>(PositionMicroseconds());
  FConnection.send(signal);
}

void TMprisService::PlayPause() {
  Run([&] {
    if (FController.Failed()) Restart();
    else FController.PlayPause();
  });
}

void TMprisService::Play() {
  Run([&] {
    if (FController.Failed()) Restart();
    else if (FController.PlayState() != psPlaying) FController.PlayPause();
  });
}

void TMprisService::Restart() {
  // As the user does on the panel: stop (which keeps the entry, the panel not being stopped),
  // then play.
  FController.StopPlay();
  FController.PlayPause();
}

void TMprisService::Pause() {
  Run([&] {
    if (FController.PlayState() == psPlaying) FController.PausePlay();
  });
}

void TMprisService::Stop() {
  // The stop button pressed while stopped goes back to the first entry; a desktop's stop while
  // stopped does nothing.
  Run([&] {
    if (FController.PlayState() != psStopped) FController.StopPlay();
  });
}

void TMprisService::Next() { Run([&] { Skip(true); }); }

void TMprisService::Previous() { Run([&] { Skip(false); }); }

void TMprisService::Skip(bool forward) {
  // The panel's next and previous while stopped go back to the first entry before they move;
  // from the desktop the move starts at the entry the panel shows.
  if (FController.PlayState() != psStopped) {
    if (forward) FController.Next();
    else FController.Previous();
    return;
  }
  if (forward) FController.NextIndex();
  else FController.PrevIndex();
  FController.StartPlay();
}

namespace {

// LoopStatus by repeat mode.
const char* const kLoopStatus[] = {"None", "Playlist", "Track"};

}  // namespace

bool TMprisService::Shuffle() const { return FController.Shuffle(); }

void TMprisService::SetShuffle(bool on) {
  Run([&] { FController.SetShuffle(on); });
}

QString TMprisService::LoopStatus() const { return QString::fromLatin1(kLoopStatus[FController.Repeat()]); }

void TMprisService::SetLoopStatus(const QString& status) {
  // Other values are not statuses: ignored.
  for (int mode = rmOff; mode <= rmOne; ++mode)
    if (status == QLatin1String(kLoopStatus[mode])) Run([&] { FController.SetRepeat(static_cast<TRepeatMode>(mode)); });
}

void TMprisService::SetVolume(double volume) {
  if (std::isnan(volume)) return;
  // The nearest of the six levels, chosen as the volume menu would; a request off the current
  // level that lies nearer to it than to any other (a small step of a slider or a key) still
  // moves one level its way. The level the panel has already changes nothing, not even the file.
  const double wanted = std::clamp(volume, 0.0, 1.0) * 100;
  const int32_t current = FController.VolLevel();
  long level = std::lround(wanted / 20) * 20;
  if (std::abs(wanted - current) < 0.5) level = current;
  else if (level == current) level = std::clamp<long>(current + (wanted > current ? 20 : -20), 0, 100);
  if (level == current) return;
  // The new level is written to the settings file, which may refuse it.
  Run([&] { FController.SetVolLevel(static_cast<int32_t>(level)); });
}

void TMprisService::OpenUri(const QString& uri) {
  // Nothing playable: nothing happens, as the media controls' OpenUri asks. A stream address
  // is played as it was given.
  const TNameClass name = ClassifyName(FromQ(uri));
  if (name.Kind == nkStreamAddress || name.LocalUri())
    Run([&] { FController.TakeIn({name.Path}, /*quiet=*/true); });
}

void TMprisService::Raise() { Run([&] { FWindow.Raise(); }); }

void TMprisService::Quit() { Run([&] { FWindow.Quit(); }); }

void TMprisService::UpdateMetadata() {
  TMP3Player& player = FController.Player();
  const std::string& file = player.FileName();
  const int32_t index = FController.NowIndex();
  if (file.empty()) {
    FTrackFile.clear();
    FTrackIndex = -1;
    FArtUrl.clear();
    FMetadata = QVariantMap{
        {QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(QStringLiteral(
                                              "/org/mpris/MediaPlayer2/TrackList/NoTrack")))}};
    FMetadataKey = QString();
    return;
  }
  const bool new_track = file != FTrackFile || index != FTrackIndex;
  if (new_track) {
    FTrackFile = file;
    FTrackIndex = index;
    ++FTrackNumber;
    const std::string cover = CoverArtFile(player.Source().Info().Picture());
    FArtUrl = cover.empty() ? QString() : QUrl::fromLocalFile(ToQ(cover)).toString(QUrl::FullyEncoded);
  }
  // An estimated length is replaced by the exact one once the track's frames are all counted.
  const int64_t length = player.LengthMicroseconds();
  const QString title = ToQ(FController.SongTitle());
  const QString artist = ToQ(player.Artist());
  const QString album = ToQ(player.Album());
  const QString url = IsStreamAddress(file) ? ToQ(WithoutCredentials(file)) : QUrl::fromLocalFile(ToQ(file)).toString(QUrl::FullyEncoded);
  QVariantMap metadata;
  metadata.insert(QStringLiteral("mpris:trackid"),
                  QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/plumo/track/%1").arg(FTrackNumber))));
  metadata.insert(QStringLiteral("xesam:url"), url);
  if (!title.isEmpty()) metadata.insert(QStringLiteral("xesam:title"), title);
  if (!artist.isEmpty()) metadata.insert(QStringLiteral("xesam:artist"), QStringList{artist});
  if (!album.isEmpty()) metadata.insert(QStringLiteral("xesam:album"), album);
  if (length > 0) metadata.insert(QStringLiteral("mpris:length"), static_cast<qlonglong>(length));
  if (!FArtUrl.isEmpty()) metadata.insert(QStringLiteral("mpris:artUrl"), FArtUrl);
  FMetadata = metadata;
  FMetadataKey = QStringLiteral("%1\n%2\n%3\n%4\n%5\n%6\n%7").arg(FTrackNumber).arg(url, title, artist, album).arg(length).arg(FArtUrl);
}

void TMprisService::Changed() {
  // The track is looked at now, while a new one is freshly loaded; what changed is signalled
  // once the handler that changed it has returned, so that a change of track (stop, load,
  // play) reaches the desktop as one change, not as a stop and a start.
  UpdateMetadata();
  if (FSendPending) return;
  FSendPending = true;
  QTimer::singleShot(0, this, [this] {
    FSendPending = false;
    SendChanges();
  });
}

void TMprisService::SendChanges() {
  QVariantMap changed;
  const QString status = PlaybackStatus();
  if (status != FSentStatus) changed.insert(QStringLiteral("PlaybackStatus"), FSentStatus = status);
  if (FMetadataKey != FSentMetadataKey) {
    FSentMetadataKey = FMetadataKey;
    changed.insert(QStringLiteral("Metadata"), FMetadata);
  }
  const double volume = Volume();
  if (volume != FSentVolume) changed.insert(QStringLiteral("Volume"), FSentVolume = volume);
  const int has_entries = HasEntries();
  if (has_entries != FSentHasEntries) {
    FSentHasEntries = has_entries;
    for (const char* name : {"CanGoNext", "CanGoPrevious", "CanPlay", "CanPause"})
      changed.insert(QString::fromLatin1(name), has_entries != 0);
  }
  const int can_seek = CanSeek();
  if (can_seek != FSentCanSeek) changed.insert(QStringLiteral("CanSeek"), (FSentCanSeek = can_seek) != 0);
  if (Shuffle() != FSentShuffle) changed.insert(QStringLiteral("Shuffle"), FSentShuffle = Shuffle());
  if (LoopStatus() != FSentLoopStatus) changed.insert(QStringLiteral("LoopStatus"), FSentLoopStatus = LoopStatus());
  const bool seeked = std::exchange(FSeekedAfterChange, false);
  if (changed.isEmpty() || !FRegistered) return;
  QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kObjectPath),
                                                   QStringLiteral("org.freedesktop.DBus.Properties"),
                                                   QStringLiteral("PropertiesChanged"));
  signal << QString::fromLatin1(kPlayerInterface) << changed << QStringList();
  FConnection.send(signal);
  if (seeked && changed.contains(QStringLiteral("Metadata"))) SendSeeked();
}

}  // namespace plumo

#include "mpris.moc"
