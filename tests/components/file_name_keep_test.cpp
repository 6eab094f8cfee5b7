#include "file_name_keep.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QMenu>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ini_file.h"

namespace plumo {
namespace {

namespace fs = std::filesystem;

class FileNameKeepTest : public ::testing::Test {
 protected:
  FileNameKeepTest() {
    std::string pattern = (fs::temp_directory_path() / "plumo-keep-XXXXXX").string();
    dir = mkdtemp(pattern.data());
    ini = dir + "/plumo.INI";
  }
  ~FileNameKeepTest() override { fs::remove_all(dir); }

  std::string MakeFile(const std::string& name) {
    const std::string path = dir + "/" + name;
    std::ofstream(path) << "x";
    return path;
  }
  std::vector<std::string> Captions() const {
    std::vector<std::string> out;
    for (QAction* a : menu.actions()) out.push_back(a->text().toStdString());
    return out;
  }

  std::string dir;
  std::string ini;
  QMenu menu;
};

TEST_F(FileNameKeepTest, CaptionsCarryAHexAccelerator) {
  EXPECT_EQ(TFileNameKeep::Caption(1, "/a.mp3"), "&1 /a.mp3");
  EXPECT_EQ(TFileNameKeep::Caption(10, "/a.mp3"), "&A /a.mp3");
  EXPECT_EQ(TFileNameKeep::Caption(15, "/a.mp3"), "&F /a.mp3");
  EXPECT_EQ(TFileNameKeep::Caption(16, "/a.mp3"), "&10 /a.mp3");
  EXPECT_EQ(TFileNameKeep::NameOfCaption("&A /a.mp3"), "/a.mp3");
  EXPECT_EQ(TFileNameKeep::NameOfCaption("&10 /a.mp3"), "/a.mp3");
  // A name's own ampersand is shown as such, and picked as it is.
  EXPECT_EQ(TFileNameKeep::Caption(2, "/R&B.mp3"), "&2 /R&&B.mp3");
  EXPECT_EQ(TFileNameKeep::NameOfCaption("&2 /R&&B.mp3"), "/R&B.mp3");
}

TEST_F(FileNameKeepTest, EmptyHistoryDisablesItsMenu) {
  TFileNameKeep keep(nullptr, ini);
  keep.SetParentMenu(&menu);
  EXPECT_FALSE(menu.isEnabled());
  EXPECT_FALSE(menu.menuAction()->isEnabled());
  keep.Add(MakeFile("a.mp3"));
  EXPECT_TRUE(menu.isEnabled());
  EXPECT_TRUE(menu.menuAction()->isEnabled());
}

TEST_F(FileNameKeepTest, AddingAgainMovesToTheTopAndSixteenAreKept) {
  TFileNameKeep keep(nullptr, ini);
  keep.SetParentMenu(&menu);
  std::vector<std::string> files;
  for (int i = 0; i < 17; ++i) files.push_back(MakeFile("f" + std::to_string(i) + ".mp3"));
  for (const auto& f : files) keep.Add(f);
  ASSERT_EQ(menu.actions().size(), 16);
  EXPECT_EQ(keep.Name(1), files[16]);
  EXPECT_EQ(keep.Name(16), files[1]) << "the oldest dropped out";
  const auto captions = Captions();
  EXPECT_EQ(captions[0], "&1 " + files[16]);
  EXPECT_EQ(captions[9], "&A " + files[7]);
  EXPECT_EQ(captions[15], "&10 " + files[1]);

  keep.Add(files[5]);
  EXPECT_EQ(menu.actions().size(), 16);
  EXPECT_EQ(keep.Name(1), files[5]);
  EXPECT_EQ(keep.Name(2), files[16]);
  int count = 0;
  for (int i = 1; i <= 16; ++i) count += keep.Name(i) == files[5];
  EXPECT_EQ(count, 1);
  // Names are compared exactly.
  keep.Add(dir + "/F5.mp3");
  EXPECT_EQ(keep.Name(1), dir + "/F5.mp3");
  EXPECT_EQ(keep.Name(2), files[5]);
}

TEST_F(FileNameKeepTest, PickingAnItemPassesItsName) {
  TFileNameKeep keep(nullptr, ini);
  keep.SetParentMenu(&menu);
  std::vector<std::string> files;
  for (int i = 0; i < 16; ++i) files.push_back(MakeFile("g" + std::to_string(i) + ".mp3"));
  for (const auto& f : files) keep.Add(f);
  std::vector<std::string> picked;
  keep.OnSelect = [&](TFileNameKeep*, const std::string& name) { picked.push_back(name); };
  menu.actions()[9]->trigger();
  menu.actions()[15]->trigger();
  menu.actions()[0]->trigger();
  EXPECT_EQ(picked, (std::vector<std::string>{files[6], files[0], files[15]}));
}

// Names of gone files are dropped; a stream address is kept as it was given.
TEST_F(FileNameKeepTest, SavedOnDestructionAndLoadedInOrderWithoutGoneFiles) {
  const std::string a = MakeFile("a.mp3"), b = MakeFile("b.mp3"), c = MakeFile("c.mp3");
  const std::string radio = "HTTPS://127.0.0.1:1/radio.pls";
  {
    TFileNameKeep keep(nullptr, ini);
    keep.SetParentMenu(&menu);
    keep.Add(a);
    keep.Add(radio);
    keep.Add(b);
    keep.Add(c);
  }
  {
    const platform::IniFile file(ini);
    EXPECT_EQ(file.ReadString("KeepFileNames", "FileName1", "?"), c);
    EXPECT_EQ(file.ReadString("KeepFileNames", "FileName4", "?"), a);
    for (int i = 5; i <= 16; ++i) {
      EXPECT_TRUE(file.ValueExists("KeepFileNames", "FileName" + std::to_string(i)));
      EXPECT_EQ(file.ReadString("KeepFileNames", "FileName" + std::to_string(i), "?"), "");
    }
  }
  fs::remove(b);
  QMenu other;
  TFileNameKeep keep(nullptr, ini);
  keep.SetParentMenu(&other);
  ASSERT_EQ(other.actions().size(), 3);
  EXPECT_EQ(keep.Name(1), c);
  EXPECT_EQ(keep.Name(2), radio);
  EXPECT_EQ(keep.Name(3), a);
  EXPECT_EQ(other.actions()[2]->text().toStdString(), "&3 " + a);
}

TEST_F(FileNameKeepTest, ClearEmptiesTheMenuAndReloads) {
  TFileNameKeep keep(nullptr, ini);
  keep.SetParentMenu(&menu);
  keep.Add(MakeFile("a.mp3"));
  keep.Add(MakeFile("b.mp3"));
  // As the panel does: the stored section is erased first.
  platform::IniFile file(ini);
  file.EraseSection("KeepFileNames");
  file.UpdateFile();
  keep.Clear();
  EXPECT_TRUE(menu.actions().isEmpty());
  EXPECT_FALSE(menu.isEnabled());
  EXPECT_EQ(keep.Name(1), "");
  keep.Add(MakeFile("c.mp3"));
  EXPECT_EQ(menu.actions().size(), 1);
  EXPECT_EQ(menu.actions()[0]->text().toStdString(), "&1 " + dir + "/c.mp3");
}

TEST_F(FileNameKeepTest, WithoutAMenuNothingIsAdded) {
  TFileNameKeep keep(nullptr, ini);
  keep.Add(MakeFile("a.mp3"));
  EXPECT_EQ(keep.Name(1), "");
}

}  // namespace
}  // namespace plumo
