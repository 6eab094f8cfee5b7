// File arguments of a later start reach the running instance through a local socket beside the
// instance lock ($XDG_RUNTIME_DIR/PLUMO.sock, else in the user's private folder in /tmp). The
// running panel listens; a later start with files connects, sends them and ends.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

namespace plumo {

class TInstanceChannel final : public QObject {
  Q_OBJECT
 public:
  // True when the files were taken (they gave the playlist something to play).
  using TFilesEvent = std::function<bool(const std::vector<std::string>& files)>;

  // Listens for later starts of the instance called name; on_files gets what each one sends,
  // from the event loop, and the sender is answered with what it returned. Only the holder of the
  // instance lock makes one, so a socket file left behind by a crash is removed first. A socket
  // that cannot be made is a std::runtime_error.
  TInstanceChannel(const std::string& name, TFilesEvent on_files, QObject* parent = nullptr);
  ~TInstanceChannel() override;
  bool Listening() const { return FServer.isListening(); }
  // Files a later start sent to be added to the playlist (plumo --enqueue); answered as on_files.
  TFilesEvent OnEnqueue;

  // The socket's path for name.
  static std::string SocketFileName(const std::string& name);
  // Hands files to the running instance called name; true once it has taken them, false when
  // it did not answer or took none of them. An instance that is still starting is waited for, at
  // most timeout_ms. A listener of another user is a std::runtime_error (it is not given the names).
  static bool Send(const std::string& name, const std::vector<std::string>& files, int timeout_ms = 10000,
                   bool enqueue = false);

 private:
  void Accept();

  QLocalServer FServer;
  TFilesEvent FOnFiles;
};

// The files named by the program's arguments (the first is the program), as absolute paths:
// relative names are taken from the current folder, file:// URIs become their paths, http://
// and https:// stream addresses stay as they are given, other addresses and options
// (beginning with "-", except after "--") are passed over.
// Whether the arguments ask for the files to be added to the playlist (--enqueue, -e).
bool EnqueueArgument(int argc, const char* const* argv);
std::vector<std::string> FileArguments(const QStringList& arguments);
// The same from the program's own argument bytes: a file name that is not valid UTF-8 stays as
// it is.
std::vector<std::string> FileArguments(int argc, const char* const* argv);

}  // namespace plumo
