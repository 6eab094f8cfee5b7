#include "playlist.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <stdexcept>

#include "test_support.h"

namespace plumo {
namespace {

TEST(PlaylistTest, DrivePartsUrlsAndShares) {
  EXPECT_TRUE(HasDrivePart("/music/a.mp3"));
  EXPECT_TRUE(HasDrivePart("D:\\x\\b.mp3"));
  EXPECT_TRUE(HasDrivePart("\\\\server\\share\\a.mp3"));
  EXPECT_FALSE(HasDrivePart("a.mp3"));
  EXPECT_FALSE(HasDrivePart("http://example.com/a.mp3"));
  EXPECT_TRUE(IsUrlOrShare("http://example.com/a.mp3"));
  EXPECT_FALSE(IsUrlOrShare("HTTP://example.com/a.mp3")) << "exact case";
}

TEST(PlaylistTest, PathParts) {
  EXPECT_EQ(JoinFolder("/music", "a.mp3"), "/music/a.mp3");
  EXPECT_EQ(JoinFolder("/", "a.mp3"), "/a.mp3");
  EXPECT_EQ(ExtractFileDir("/music/x/a.mp3"), "/music/x");
  EXPECT_EQ(ExtractFileDir("/a.mp3"), "/");
  EXPECT_EQ(LowerExtension("/m/A.MP3"), ".mp3");
  EXPECT_EQ(LowerExtension("/m.d/list.M3U"), ".m3u");
  EXPECT_EQ(LowerExtension("/m.d/noext"), "");
  EXPECT_EQ(NameWithoutExtension("/m/Song.Name.mp3"), "Song.Name");
}

TEST(PlaylistTest, TimeTextDoesNotWrapMinutes) {
  EXPECT_EQ(TimeText(0), "00:00");
  EXPECT_EQ(TimeText(61000), "01:01");
  EXPECT_EQ(TimeText(59999), "00:59");
  EXPECT_EQ(TimeText(4500000), "75:00");
  EXPECT_EQ(TimeText(6000000), "100:00");
}

TEST(PlaylistTest, M3uLinesWithCrLfCommentsAndEmptyLines) {
  test::TempDir dir;
  test::WriteFile(dir / "l.m3u", "#EXTM3U\r\na.mp3\r\n\r\nD:\\x\\b.mp3\r\nhttp://h/s.mp3\r\n/abs/c.mp3\rjunk\nsub/d.mp3");
  std::vector<std::string> list{"kept"};
  ReadM3u(dir / "l.m3u", "/music", list);
  EXPECT_EQ(list, (std::vector<std::string>{"kept", "/music/#EXTM3U", "/music/a.mp3", "/music/", "D:\\x\\b.mp3",
                                            "http://h/s.mp3", "/abs/c.mp3", "/music/sub/d.mp3"}));
  list.clear();
  ReadM3u(dir / "l.m3u", "/", list);
  EXPECT_EQ(list[1], "/a.mp3");
}

TEST(PlaylistTest, UnreadableM3uRaisesNamingTheFile) {
  test::TempDir dir;
  std::vector<std::string> list;
  try {
    ReadM3u(dir / "missing.m3u", "/", list);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(dir / "missing.m3u"), std::string::npos);
  }
  // Opens, but reading fails.
  ASSERT_EQ(::symlink("/proc/self/mem", (dir / "bad.m3u").c_str()), 0);
  EXPECT_THROW(ReadM3u(dir / "bad.m3u", "/", list), std::runtime_error);
}

}  // namespace
}  // namespace plumo
