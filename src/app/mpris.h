// MPRIS2 on the session bus (org.mpris.MediaPlayer2.plumo): the desktop's media keys and media
// controls drive the panel's play controller through the same commands as its buttons and menu,
// so the controller stays the only state machine: play/pause/resume as one click, next and
// previous, stop as the stop button, the volume as one of the six levels; Raise shows the panel,
// Quit closes it as Exit does. Status, track and volume changes are signalled (PropertiesChanged).
// Seek and SetPosition move within the track heard as the panel's wheel does; every move, the
// wheel's too, is signalled (Seeked).
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace plumo {

class TPlatform;
class TPlayController;

// What the service asks of the window.
struct TMprisWindow {
  std::function<void()> Raise;
  std::function<void()> Quit;
};

class TMprisService final : public QObject {
  Q_OBJECT
 public:
  static constexpr const char* kServiceName = "org.mpris.MediaPlayer2.plumo";
  static constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";

  // Serves the controller on connection; Registered() tells whether the bus gave the name.
  TMprisService(TPlayController& controller, TMprisWindow window, QDBusConnection connection);
  // The panel's controller and window.
  TMprisService(TPlatform& form, QDBusConnection connection);
  ~TMprisService() override;
  TMprisService(const TMprisService&) = delete;
  TMprisService& operator=(const TMprisService&) = delete;
  bool Registered() const { return FRegistered; }

  // The service on the desktop session's bus, or nullptr when there is no session bus (or the
  // name is taken): the panel then runs without it, and says nothing.
  static std::unique_ptr<TMprisService> OnSessionBus(TPlatform& form);

  // What the Player interface shows.
  QString PlaybackStatus() const;
  QVariantMap Metadata() const { return FMetadata; }
  double Volume() const;
  bool HasEntries() const;
  int64_t PositionMicroseconds() const;
  // The stream open can seek (a file, not a pipe).
  bool CanSeek() const;
  // Shuffle and repeat ("None", "Playlist", "Track"), writable.
  bool Shuffle() const;
  void SetShuffle(bool on);
  QString LoopStatus() const;
  void SetLoopStatus(const QString& status);

  // The methods, through the controller's commands.
  void PlayPause();
  void Play();
  void Pause();
  void Stop();
  void Next();
  void Previous();
  void SetVolume(double volume);
  // By offset_us from the position; past the end as Next, before the start to the start.
  void Seek(int64_t offset_us);
  // To position_us of the track track_id; ignored for another track or a position outside it.
  void SetPosition(const QString& track_id, int64_t position_us);
  void OpenUri(const QString& uri);
  void Raise();
  void Quit();

  // Looks at the form again; what changed is signalled from the event loop, once.
  void Changed();

 private:
  template <class F>
  void Run(F&& f);
  void UpdateMetadata();
  void SendChanges();
  // Moves to position_us of the track heard.
  void SeekMicroseconds(int64_t position_us);
  // The Seeked signal with the position moved to.
  void SendSeeked();
  // Starts playing again after a failure, at the entry shown.
  void Restart();
  // The next or the previous entry; when stopped, from the entry shown.
  void Skip(bool forward);

  TPlayController& FController;
  TMprisWindow FWindow;
  QDBusConnection FConnection;
  bool FRegistered = false;

  // The current track: the file loaded and its place, and what was found for it.
  std::string FTrackFile;
  int32_t FTrackIndex = -1;
  uint64_t FTrackNumber = 0;
  QVariantMap FMetadata;
  QString FMetadataKey;
  // The file:// address of the track's cover in the cover cache; empty without one.
  QString FArtUrl;
  // What was last signalled.
  QString FSentStatus;
  QString FSentMetadataKey;
  double FSentVolume = -1;
  int FSentHasEntries = -1;
  int FSentCanSeek = -1;
  bool FSentShuffle = false;
  QString FSentLoopStatus;
  bool FSendPending = false;
  // A gapless change is being signalled: its Seeked follows the new metadata.
  bool FSeekedAfterChange = false;
};

}  // namespace plumo
