#include "playlist.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "file_stream.h"
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
  EXPECT_TRUE(IsUrlOrShare("https://example.com/a.mp3"));
  EXPECT_TRUE(IsUrlOrShare("HTTP://example.com/a.mp3")) << "the scheme in any case";
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
  ReadPlaylist(dir / "l.m3u", list);
  // Comments and empty lines name nothing; relative lines are the playlist's own folder's.
  EXPECT_EQ(list, (std::vector<std::string>{"kept", dir / "a.mp3", "D:\\x\\b.mp3", "http://h/s.mp3", "/abs/c.mp3",
                                            dir / "sub/d.mp3"}));
}

// Playlists as players on Linux and Windows write them.
TEST(PlaylistTest, BomExtinfM3u8FileUrisAndBackslashes) {
  test::TempDir dir;
  test::WriteFile(dir / "album.m3u8",
                  "\xEF\xBB\xBF#EXTM3U\n#EXTINF:215,Ünïcode Artist - Tränk\n01 Tränk.mp3\n"
                  "#EXTINF:-1,Next\nCD 2\\02 Second.mp3\n\n"
                  "file:///music/My%20Album/03%20%C3%A9t%C3%A9.mp3\nFILE://localhost/music/x%2.mp3\n"
                  "file://otherhost/share/y.mp3\n  \n");
  std::vector<std::string> list;
  ReadPlaylist(dir / "album.m3u8", list);
  EXPECT_EQ(list, (std::vector<std::string>{dir / "01 Tränk.mp3", dir / "CD 2/02 Second.mp3",
                                            "/music/My Album/03 été.mp3", "/music/x%2.mp3",
                                            "file://otherhost/share/y.mp3", dir / "  "}));
  // A byte-order mark only counts at the very start; a first line without one is an entry.
  test::WriteFile(dir / "plain.m3u", "one.mp3\n\xEF\xBB\xBFtwo.mp3\n");
  list.clear();
  ReadPlaylist(dir / "plain.m3u", list);
  EXPECT_EQ(list, (std::vector<std::string>{dir / "one.mp3", dir / "\xEF\xBB\xBFtwo.mp3"}));
}

// A station's "listen" link: a .pls with any count of FileN keys in any order and case, the
// titles it gives, and an .m3u's #EXTINF title for an address.
TEST(PlaylistTest, PlsAndM3uGiveAddressesAndTheirTitles) {
  test::TempDir dir;
  test::WriteFile(dir / "radio.PLS",
                  "\xEF\xBB\xBF[playlist]\r\nNumberOfEntries=4\r\nFile10=https://h:8443/ten\r\nTitle2=Two\r\n"
                  "File2 = http://h/two \r\nfile1=sub\\one.mp3\r\nTITLE1=Local One\r\nLength1=-1\r\n"
                  "Title7=no file\r\nFile3=\r\nFilex=junk\r\nFile4=file:///m/a%20b.mp3\r\nnonsense\r\nVersion=2\r\n");
  test::WriteFile(dir / "radio.m3u",
                  "#EXTM3U\n#EXTINF:-1,Radio Ü\nhttps://h/s\n#EXTINF:3,File\nf.mp3\nhttp://h/untitled\n#EXTINF:-1,Caps\nHTTP://H/Caps\n");
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"radio.PLS", {dir / "sub/one.mp3", "http://h/two", "/m/a b.mp3", "https://h:8443/ten"}},
      {"radio.m3u", {"https://h/s", dir / "f.mp3", "http://h/untitled", "HTTP://H/Caps"}}};
  const TEntryTitles expected_titles[] = {{{dir / "sub/one.mp3", "Local One"}, {"http://h/two", "Two"}},
                                          {{"https://h/s", "Radio Ü"}, {"HTTP://H/Caps", "Caps"}}};
  for (size_t i = 0; i < std::size(cases); ++i) {
    std::vector<std::string> list;
    TEntryTitles titles;
    ReadPlaylist(dir / cases[i].first, list, &titles);
    EXPECT_EQ(list, cases[i].second) << cases[i].first;
    EXPECT_EQ(titles, expected_titles[i]) << cases[i].first;
  }
  EXPECT_TRUE(IsPlaylistFile("/x/radio.Pls"));
  // A .pls that breaks off keeps the entries read before.
  test::WriteFile(dir / "long.pls", "File2=b.mp3\nFile1=a.mp3\n#" + std::string(5000, 'x') + "\nFile3=c.mp3\n");
  test::FailsAfterFirstBlock stream(dir / "long.pls");
  std::vector<std::string> list;
  EXPECT_THROW(ReadPlaylist(stream, dir / "long.pls", list), EStreamError);
  EXPECT_EQ(list, (std::vector<std::string>{dir / "a.mp3", dir / "b.mp3"}));
}

TEST(PlaylistTest, PercentDecodeLeavesBrokenEscapes) {
  EXPECT_EQ(PercentDecode("a%20b%2Fc%2fd"), "a b/c/d");
  EXPECT_EQ(PercentDecode("100%"), "100%");
  EXPECT_EQ(PercentDecode("%zz%4"), "%zz%4");
  EXPECT_EQ(PercentDecode("%00x"), std::string("\0x", 2));
}

TEST(PlaylistTest, NaturalPathOrder) {
  std::vector<std::string> paths{"/m/Track 10.mp3", "/m/track 9.mp3", "/m/Track 1.mp3", "/m/CD 2/01.mp3",
                                 "/m/CD 10/01.mp3", "/m/CD 2/002.mp3", "/m/a-b/x.mp3", "/m/a/z.mp3", "/m/Track 01.mp3"};
  std::sort(paths.begin(), paths.end(), NaturalPathLess);
  EXPECT_EQ(paths, (std::vector<std::string>{"/m/a/z.mp3", "/m/a-b/x.mp3", "/m/CD 2/01.mp3", "/m/CD 2/002.mp3",
                                             "/m/CD 10/01.mp3", "/m/Track 01.mp3", "/m/Track 1.mp3", "/m/track 9.mp3",
                                             "/m/Track 10.mp3"}));
  // A strict order: equal only to itself.
  EXPECT_FALSE(NaturalPathLess("/m/a1", "/m/a1"));
  EXPECT_NE(NaturalPathLess("/m/a01", "/m/a1"), NaturalPathLess("/m/a1", "/m/a01"));
  EXPECT_NE(NaturalPathLess("/m/A", "/m/a"), NaturalPathLess("/m/a", "/m/A"));
}

TEST(PlaylistTest, FolderAudioFilesAreFoundRecursivelyInNaturalOrder) {
  test::TempDir dir;
  std::filesystem::create_directories(dir / "album/CD 10");
  std::filesystem::create_directories(dir / "album/CD 2");
  for (const char* name : {"album/10 ten.mp3", "album/9 nine.MP3", "album/cover.jpg", "album/notes.m3u",
                           "album/CD 2/1 a.mp2", "album/CD 10/1 b.mpa", "album/CD 2/readme.txt"})
    test::WriteFile(dir / name, "x");
  // Links to folders are not followed (a link to the album itself would never end).
  ASSERT_EQ(::symlink((dir / "album").c_str(), (dir / "album/loop").c_str()), 0);
  EXPECT_EQ(FolderAudioFiles(dir / "album"),
            (std::vector<std::string>{dir / "album/9 nine.MP3", dir / "album/10 ten.mp3", dir / "album/CD 2/1 a.mp2",
                                      dir / "album/CD 10/1 b.mpa"}));
  EXPECT_TRUE(FolderAudioFiles(dir / "missing").empty());
  EXPECT_TRUE(IsAudioFile("/x/A.MPA"));
  EXPECT_FALSE(IsAudioFile("/x/a.mp4"));
  EXPECT_TRUE(IsPlaylistFile("/x/a.M3U8"));
}

TEST(PlaylistTest, UnreadableM3uRaisesNamingTheFile) {
  test::TempDir dir;
  std::vector<std::string> list;
  try {
    ReadPlaylist(dir / "missing.m3u", list);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(dir / "missing.m3u"), std::string::npos);
  }
  // Opens, but reading fails.
  ASSERT_EQ(::symlink("/proc/self/mem", (dir / "bad.m3u").c_str()), 0);
  EXPECT_THROW(ReadPlaylist(dir / "bad.m3u", list), std::runtime_error);
}

TEST(PlaylistTest, PlaylistThatBreaksOffKeepsTheLinesReadBefore) {
  test::TempDir dir;
  test::WriteFile(dir / "long.m3u", "a.mp3\nb.mp3\n#" + std::string(5000, 'x') + "\nc.mp3\n");
  test::FailsAfterFirstBlock stream(dir / "long.m3u");
  std::vector<std::string> list;
  EXPECT_THROW(ReadPlaylist(stream, dir / "long.m3u", list), EStreamError);
  EXPECT_EQ(list, (std::vector<std::string>{dir / "a.mp3", dir / "b.mp3"}));
}

}  // namespace
}  // namespace plumo
