#include "intake.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "test_support.h"

namespace plumo {
namespace {

// Every way a name comes in gets one answer: drops, arguments, OpenUri, the history.
TEST(IntakeTest, NamesAreClassifiedOnce) {
  test::TempDir dir;
  std::filesystem::create_directory(dir / "folder");
  for (const char* name : {"a b.mp3", "list.pls", "LIST.M3U", "song.flac"}) test::WriteFile(dir / name, "x");
  ASSERT_EQ(::mkfifo((dir / "fifo.mp3").c_str(), 0600), 0);
  const struct {
    std::string name;
    TNameKind kind;
    std::string path;
    bool uri;
  } rows[] = {
      {"HTTP://h/live", nkStreamAddress, "HTTP://h/live", false},
      {"Https://h/live", nkStreamAddress, "Https://h/live", false},
      {"file://localhost" + dir / "a%20b.mp3", nkAudioFile, dir / "a b.mp3", true},
      {"file://" + dir / "a%20b.mp3", nkAudioFile, dir / "a b.mp3", true},
      {"FILE:" + dir / "a b.mp3", nkAudioFile, dir / "a b.mp3", true},
      {"file://otherhost/a.mp3", nkOtherAddress, "file://otherhost/a.mp3", true},
      {"ftp://h/a.mp3", nkOtherAddress, "ftp://h/a.mp3", false},
      {dir / "folder", nkFolder, dir / "folder", false},
      {dir / "list.pls", nkPlaylist, dir / "list.pls", false},
      {dir / "LIST.M3U", nkPlaylist, dir / "LIST.M3U", false},
      {dir / "song.flac", nkOtherFile, dir / "song.flac", false},
      {dir / "gone.mp3", nkMissing, dir / "gone.mp3", false},
      {dir / "fifo.mp3", nkNotRegular, dir / "fifo.mp3", false},
  };
  for (const auto& row : rows) {
    const TNameClass c = ClassifyName(row.name);
    EXPECT_EQ(c.Kind, row.kind) << row.name;
    EXPECT_EQ(c.Path, row.path) << row.name;
    EXPECT_EQ(c.FileUri, row.uri) << row.name;
  }
  // At play time a FIFO in the playlist is passed over as a missing file, never opened.
  EXPECT_EQ(PlayableName("fifo.mp3", dir.Path()), "");
  EXPECT_EQ(PlayableName("a b.mp3", dir.Path()), dir / "a b.mp3");
  EXPECT_EQ(PlayableName("hTtP://h/live", dir.Path()), "hTtP://h/live");
}

}  // namespace
}  // namespace plumo
