#include "instance_channel.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>

#include "test_support.h"

namespace plumo {
namespace {

namespace fs = std::filesystem;

TEST(InstanceChannelTest, FileArgumentsBecomeAbsolutePaths) {
  const std::string cwd = fs::current_path().string();
  // Stream addresses stay as they were given; other addresses name nothing.
  const QStringList arguments{"plumo", "-x", "song.mp3", "/abs/list.m3u8", "file:///music/My%20Album/",
                              "http://example.com/a.mp3", "HTTPS://h:8443/live?a=%20", "ftp://h/x.mp3", "",
                              "sub/../b.mp3", "--", "-dash.mp3"};
  EXPECT_EQ(FileArguments(arguments),
            (std::vector<std::string>{cwd + "/song.mp3", "/abs/list.m3u8", "/music/My Album/", "http://example.com/a.mp3",
                                      "HTTPS://h:8443/live?a=%20", cwd + "/b.mp3", cwd + "/-dash.mp3"}));
  EXPECT_TRUE(FileArguments({"plumo"}).empty());
}

// A later start's files reach the listening instance as they were, whatever their characters.
TEST(InstanceChannelTest, FilesReachTheListeningInstance) {
  test::TempDir dir;
  const char* old = getenv("XDG_RUNTIME_DIR");
  const std::string saved = old != nullptr ? old : "";
  setenv("XDG_RUNTIME_DIR", dir.Path().c_str(), 1);
  const std::string name = "PLUMO-test";
  // A socket file left behind by a crashed instance does not keep the next one from listening.
  test::WriteFile(TInstanceChannel::SocketFileName(name), "stale");
  EXPECT_EQ(TInstanceChannel::SocketFileName(name), dir / "PLUMO-test.sock");
  std::vector<std::vector<std::string>> received;
  {
    // Taken when there is more than one (as the panel takes what it can play).
    TInstanceChannel channel(name, [&](const std::vector<std::string>& files) {
      received.push_back(files);
      return files.size() > 1;
    });
    ASSERT_TRUE(channel.Listening());
    struct stat st {};
    ASSERT_EQ(::stat(TInstanceChannel::SocketFileName(name).c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 077, 0u) << "only the user may connect";

    const std::vector<std::string> files{"/music/a b.mp3", "/music/Ünïcode/曲.mp3", "/odd/new\nline.mp3"};
    std::atomic<int> sent{-1};
    std::thread sender([&] { sent = TInstanceChannel::Send(name, files) ? 1 : 0; });
    QDeadlineTimer guard(20000);
    while ((sent < 0 || received.empty()) && !guard.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 10);
    sender.join();
    EXPECT_EQ(sent, 1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], files);
    // Not taken: the sender hears so.
    sent = -1;
    std::thread refused([&] { sent = TInstanceChannel::Send(name, {"/music/song.flac"}) ? 1 : 0; });
    while (sent < 0 && !guard.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 10);
    refused.join();
    EXPECT_EQ(sent, 0);
    // plumo --enqueue: the files go to the enqueue handler, marked by nothing but their handler.
    std::vector<std::string> enqueued;
    channel.OnEnqueue = [&](const std::vector<std::string>& files) {
      enqueued = files;
      return true;
    };
    sent = -1;
    std::thread enqueue([&] { sent = TInstanceChannel::Send(name, {"/music/next.mp3"}, 10000, true) ? 1 : 0; });
    while (sent < 0 && !guard.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 10);
    enqueue.join();
    EXPECT_EQ(sent, 1);
    EXPECT_EQ(enqueued, std::vector<std::string>{"/music/next.mp3"});
    const char* with[] = {"plumo", "a.mp3", "-e"};
    const char* after[] = {"plumo", "--", "--enqueue"};
    EXPECT_TRUE(EnqueueArgument(3, with));
    EXPECT_FALSE(EnqueueArgument(3, after)) << "a file named so";
    EXPECT_EQ(received.size(), 2u);
  }
  // No instance: the sender gives up after its wait.
  EXPECT_FALSE(TInstanceChannel::Send(name, {"/a.mp3"}, 300));
  if (old != nullptr) setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
  else unsetenv("XDG_RUNTIME_DIR");
}

// A socket that cannot be made is said, and a listener of another user is not given the names.
TEST(InstanceChannelTest, ListenFailureIsSaidAndAStrangersListenerIsRefused) {
  test::TempDir dir;
  const char* old = getenv("XDG_RUNTIME_DIR");
  const std::string saved = old != nullptr ? old : "";
  const std::string name = "PLUMO-test";
  const std::string missing = dir / "missing";
  setenv("XDG_RUNTIME_DIR", missing.c_str(), 1);
  try {
    TInstanceChannel channel(name, {});
    ADD_FAILURE() << "listening on " << TInstanceChannel::SocketFileName(name);
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()).rfind("cannot listen on " + missing + "/PLUMO-test.sock: ", 0), 0u) << e.what();
  }

  if (::geteuid() == 0) {  // only root can be another user
    const std::string run = dir / "run";
    fs::create_directory(run);
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0711), 0);
    ASSERT_EQ(::chown(run.c_str(), 65534, 65534), 0);
    setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
    const std::string path = TInstanceChannel::SocketFileName(name);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      // Another user's listener that answers "taken" to anyone.
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
      const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
      if (::setgid(65534) != 0 || ::setuid(65534) != 0 || fd < 0 ||
          ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0)
        ::_exit(1);
      (void)!::write(ready[1], "r", 1);
      for (;;) {
        const int peer = ::accept(fd, nullptr, nullptr);
        (void)!::write(peer, "\1", 1);
      }
    }
    ::close(ready[1]);
    char c = 0;
    const bool listening = ::read(ready[0], &c, 1) == 1;
    EXPECT_TRUE(listening) << "the other user's listener did not start";
    if (listening) {
      EXPECT_THROW(TInstanceChannel::Send(name, {"/a.mp3"}, 3000), std::runtime_error);
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
  }
  if (old != nullptr) setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
  else unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
}  // namespace plumo
