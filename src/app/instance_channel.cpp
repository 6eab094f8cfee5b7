#include "instance_channel.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "forms.h"
#include "instance_lock.h"
#include "intake.h"

namespace plumo {

namespace {

// A message is the file names, each followed by a NUL, and one more NUL at the end; the
// instance answers with one byte once it has read it all. Names to be added to the playlist come
// after a first record kEnqueue (which no absolute path or address can be).
constexpr char kTaken = '\1';
constexpr char kNotTaken = '\0';
// A later start sends file names, not data: anything longer is not one of ours.
constexpr qsizetype kMaxMessage = 16 * 1024 * 1024;
constexpr const char* kEnqueue = "--enqueue";

// The names of a complete message, or false while it is not complete.
bool ParseMessage(const QByteArray& data, std::vector<std::string>& files) {
  files.clear();
  qsizetype start = 0;
  for (;;) {
    const qsizetype nul = data.indexOf('\0', start);
    if (nul < 0) return false;
    if (nul == start) return true;
    files.emplace_back(data.constData() + start, static_cast<size_t>(nul - start));
    start = nul + 1;
  }
}

}  // namespace

TInstanceChannel::TInstanceChannel(const std::string& name, TFilesEvent on_files, QObject* parent)
    : QObject(parent), FOnFiles(std::move(on_files)) {
  const QString path = ToQ(SocketFileName(name));
  QLocalServer::removeServer(path);
  FServer.setSocketOptions(QLocalServer::UserAccessOption);
  // Qt has been seen to answer true with no socket made (a missing folder): look for it.
  if (!FServer.listen(path))
    throw std::runtime_error("cannot listen on " + FromQ(path) + ": " + FromQ(FServer.errorString()));
  struct stat st {};
  if (::lstat(SocketFileName(name).c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) {
    FServer.close();
    throw std::runtime_error("cannot listen on " + FromQ(path) + ": no socket was made");
  }
  connect(&FServer, &QLocalServer::newConnection, this, [this] { Accept(); });
}

TInstanceChannel::~TInstanceChannel() { FServer.close(); }

std::string TInstanceChannel::SocketFileName(const std::string& name) {
  std::string file = platform::InstanceLock::LockFileName(name);
  const std::string lock = ".lock";
  if (file.size() > lock.size() && file.compare(file.size() - lock.size(), lock.size(), lock) == 0)
    file.resize(file.size() - lock.size());
  return file + ".sock";
}

void TInstanceChannel::Accept() {
  while (QLocalSocket* socket = FServer.nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
      buffer->append(socket->readAll());
      std::vector<std::string> files;
      if (buffer->size() > kMaxMessage) {
        socket->abort();
        return;
      }
      if (!ParseMessage(*buffer, files)) return;
      buffer->clear();
      // Taken in from the event loop, not inside the socket's handler; answered after.
      const bool enqueue = !files.empty() && files.front() == kEnqueue;
      if (enqueue) files.erase(files.begin());
      QTimer::singleShot(0, this, [this, files, enqueue, answer = QPointer<QLocalSocket>(socket)] {
        const TFilesEvent& take = enqueue && OnEnqueue ? OnEnqueue : FOnFiles;
        const bool taken = take && take(files);
        if (answer == nullptr) return;
        answer->write(taken ? &kTaken : &kNotTaken, 1);
        answer->flush();
        answer->disconnectFromServer();
      });
    });
  }
}

bool TInstanceChannel::Send(const std::string& name, const std::vector<std::string>& files, int timeout_ms,
                            bool enqueue) {
  QByteArray message;
  if (enqueue) message.append(kEnqueue).append('\0');
  for (const std::string& file : files) {
    if (file.empty()) continue;
    message.append(file.data(), static_cast<qsizetype>(file.size()));
    message.append('\0');
  }
  message.append('\0');
  const QString path = ToQ(SocketFileName(name));
  const QDeadlineTimer deadline(timeout_ms);
  QLocalSocket socket;
  // The instance holds its lock before it listens: keep trying while it starts.
  for (;;) {
    socket.connectToServer(path);
    if (socket.waitForConnected(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0)))) break;
    if (deadline.hasExpired()) return false;
    QThread::msleep(50);
  }
  // Only an instance of this user's is given the names: in a shared folder another user could
  // have put a socket of theirs in its place.
  struct ucred peer {};
  socklen_t size = sizeof peer;
  if (::getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
      peer.uid != ::geteuid())
    throw std::runtime_error(FromQ(path) + " is not the socket of this user's instance");
  socket.write(message);
  while (socket.bytesToWrite() > 0)
    if (!socket.waitForBytesWritten(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)))) return false;
  while (socket.bytesAvailable() < 1)
    if (!socket.waitForReadyRead(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)))) return false;
  char answer = 0;
  return socket.read(&answer, 1) == 1 && answer == kTaken;
}

bool EnqueueArgument(int argc, const char* const* argv) {
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
    const std::string argument = argv[i];
    if (argument == "--") break;
    if (argument == "--enqueue" || argument == "-e") return true;
  }
  return false;
}

std::vector<std::string> FileArguments(int argc, const char* const* argv) {
  std::vector<std::string> files;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i] != nullptr ? argv[i] : "";
    if (options && argument == "--") {
      options = false;
      continue;
    }
    if (argument.empty() || (options && argument[0] == '-')) continue;
    const TNameClass name = ClassifyName(argument);
    // Other addresses name nothing here; a stream address is taken as it was given.
    if (name.Kind == nkOtherAddress) continue;
    if (name.Kind == nkStreamAddress) {
      files.push_back(argument);
      continue;
    }
    const std::string& path = name.Path;
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    files.push_back(error ? path : absolute.lexically_normal().string());
  }
  return files;
}

std::vector<std::string> FileArguments(const QStringList& arguments) {
  std::vector<std::string> bytes;
  for (const QString& argument : arguments) bytes.push_back(FromQ(argument));
  std::vector<const char*> argv;
  for (const std::string& argument : bytes) argv.push_back(argument.c_str());
  return FileArguments(static_cast<int>(argv.size()), argv.data());
}

}  // namespace plumo
