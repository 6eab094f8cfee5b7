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
  using TFilesEvent = std::function<void(const std::vector<std::string>& files)>;

  // Listens for later starts of the instance called name; on_files gets what each one sends,
  // from the event loop. Only the holder of the instance lock makes one, so a socket file left
  // behind by a crash is removed first. A socket that cannot be made is a std::runtime_error.
  TInstanceChannel(const std::string& name, TFilesEvent on_files, QObject* parent = nullptr);
  ~TInstanceChannel() override;
  bool Listening() const { return FServer.isListening(); }

  // The socket's path for name.
  static std::string SocketFileName(const std::string& name);
  // Hands files to the running instance called name; true once it has taken them. An instance
  // that is still starting is waited for, at most timeout_ms. A listener of another user is a
  // std::runtime_error (it is not given the names).
  static bool Send(const std::string& name, const std::vector<std::string>& files, int timeout_ms = 10000);

 private:
  void Accept();

  QLocalServer FServer;
  TFilesEvent FOnFiles;
};

// The files named by the program's arguments (the first is the program), as absolute paths:
// relative names are taken from the current folder, file:// URIs become their paths, other
// addresses and options (beginning with "-", except after "--") are passed over.
std::vector<std::string> FileArguments(const QStringList& arguments);

}  // namespace plumo
