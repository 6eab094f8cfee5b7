#include "instance_channel.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <atomic>
#include <filesystem>
#include <thread>

#include "test_support.h"

namespace plumo {
namespace {

namespace fs = std::filesystem;

TEST(InstanceChannelTest, FileArgumentsBecomeAbsolutePaths) {
  const std::string cwd = fs::current_path().string();
  const QStringList arguments{"plumo", "-x", "song.mp3", "/abs/list.m3u8", "file:///music/My%20Album/",
                              "http://example.com/a.mp3", "", "sub/../b.mp3", "--", "-dash.mp3"};
  EXPECT_EQ(FileArguments(arguments),
            (std::vector<std::string>{cwd + "/song.mp3", "/abs/list.m3u8", "/music/My Album/", cwd + "/b.mp3", cwd + "/-dash.mp3"}));
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
    EXPECT_EQ(received.size(), 2u);
  }
  // No instance: the sender gives up after its wait.
  EXPECT_FALSE(TInstanceChannel::Send(name, {"/a.mp3"}, 300));
  if (old != nullptr) setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
  else unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
}  // namespace plumo
