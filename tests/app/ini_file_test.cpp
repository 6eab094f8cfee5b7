#include "ini_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace plumo::platform {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(IniFileTest, MissingFileReadsDefaults) {
  TempDir dir;
  const IniFile ini(dir / "none.INI");
  EXPECT_EQ(ini.ReadInteger("Setup", "Left", 317), 317);
  EXPECT_EQ(ini.ReadString("Option", "CurrentDir", "/here"), "/here");
  EXPECT_TRUE(ini.ReadBool("Setup", "Visible", true));
  EXPECT_FALSE(ini.SectionExists("Setup"));
}

TEST(IniFileTest, NamesIgnoreCaseAndValuesAreTrimmed) {
  TempDir dir;
  WriteFile(dir / "a.INI", "; comment\r\n[setup]\r\n  LEFT = 12 \r\ntop=7\r\n[Option]\r\nFile0=\r\nFile1= /a b.mp3\r\n");
  const IniFile ini(dir / "a.INI");
  EXPECT_EQ(ini.ReadInteger("Setup", "Left", 0), 12);
  EXPECT_EQ(ini.ReadInteger("SETUP", "Top", 0), 7);
  EXPECT_EQ(ini.ReadString("option", "file0", "default"), "") << "present but empty is empty";
  EXPECT_EQ(ini.ReadString("Option", "File1", ""), "/a b.mp3");
  EXPECT_EQ(ini.ReadString("Option", "File2", "default"), "default");
}

TEST(IniFileTest, IntegersDecimalHexadecimalAndInvalid) {
  TempDir dir;
  WriteFile(dir / "a.INI",
            "[S]\nhex=0x3C\nHEX=0X3c\nneg=-20\nbad=12abc\nempty=\nbare0x=0x\nbig=99999999999\nall=0xFFFFFFFF\n");
  const IniFile ini(dir / "a.INI");
  EXPECT_EQ(ini.ReadInteger("S", "hex", 0), 60);
  EXPECT_EQ(ini.ReadInteger("S", "neg", 0), -20);
  EXPECT_EQ(ini.ReadInteger("S", "bad", 5), 5);
  EXPECT_EQ(ini.ReadInteger("S", "empty", 5), 5);
  EXPECT_EQ(ini.ReadInteger("S", "bare0x", 5), 5);
  EXPECT_EQ(ini.ReadInteger("S", "big", 5), 5);
  EXPECT_EQ(ini.ReadInteger("S", "all", 5), -1);
  EXPECT_TRUE(ini.ReadBool("S", "neg", false));
  EXPECT_TRUE(ini.ReadBool("S", "bad", true));
}

// Whatever is written reads back as it was, and a plain value stands in the file as it is.
TEST(IniFileTest, ValuesReadBackAsWritten) {
  TempDir dir;
  const std::string values[] = {std::string(5000, 'a'), " lead", "trail\t", "  both  ", "\"quoted\"", "\"",
                                "one\ntwo=2", "cr\r\nlf\r", "back\\slash\\n\\", " C:\\new\\r\\\\", "", "/a b/c.mp3"};
  {
    IniFile ini(dir / "a.INI");
    for (size_t i = 0; i < std::size(values); ++i) ini.WriteString("A", "k" + std::to_string(i), values[i]);
    ini.UpdateFile();
  }
  const IniFile again(dir / "a.INI");
  for (size_t i = 0; i < std::size(values); ++i)
    EXPECT_EQ(again.ReadString("A", "k" + std::to_string(i), "default"), values[i]) << i;
  EXPECT_FALSE(again.ValueExists("A", "two"));
  EXPECT_NE(ReadFile(dir / "a.INI").find("\nk11=/a b/c.mp3\n"), std::string::npos);
}

// A byte-order mark before the first section, as editors write one, and CR/LF line ends.
TEST(IniFileTest, ByteOrderMarkAndCrLfArePassedOver) {
  TempDir dir;
  WriteFile(dir / "a.INI", "\xEF\xBB\xBF[Setup]\r\nLeft=5\r\n[Option]\r\nFile0=\" x \"\r\nFile1=\"C:\\Music\\a.mp3\"\r\n");
  IniFile ini(dir / "a.INI");
  EXPECT_EQ(ini.ReadInteger("Setup", "Left", 0), 5);
  EXPECT_EQ(ini.ReadString("Option", "File0", ""), " x ");
  EXPECT_EQ(ini.ReadString("Option", "File1", ""), "C:\\Music\\a.mp3");
  ini.WriteInteger("Setup", "Top", 6);
  EXPECT_EQ(ini.Text(), "[Setup]\nLeft=5\nTop=6\n[Option]\nFile0=\" x \"\nFile1=\"C:\\Music\\a.mp3\"\n");
}

TEST(IniFileTest, WritesReplaceInPlaceAppendAndErase) {
  TempDir dir;
  const std::string file = dir / "a.INI";
  WriteFile(file, "[Setup]\nLeft=1\nTop=2\n[Option]\nFileCount=5\nFile4=x\n[KeepFileNames]\nFileName1=/k\n");
  {
    IniFile ini(file);
    ini.WriteInteger("setup", "LEFT", 40);
    ini.WriteBool("Setup", "Visible", true);
    ini.EraseSection("option");
    ini.WriteInteger("Option", "FileCount", 1);
    ini.WriteString("Option", "File0", "/a.mp3");
    ini.UpdateFile();
  }
  EXPECT_EQ(ReadFile(file),
            "[Setup]\nLeft=40\nTop=2\nVisible=1\n[KeepFileNames]\nFileName1=/k\n[Option]\nFileCount=1\nFile0=/a.mp3\n");
}

// The key index behind the lookups: the first of two equal keys counts, keys written before a
// section's trailing blank lines stay findable, and header sections of one name merge.
TEST(IniFileTest, LookupsFindTheFirstKeyAfterInsertsAndMerges) {
  TempDir dir;
  const std::string file = dir / "a.INI";
  WriteFile(file, "[Option]\nFile0=first\nfile0=second\n[Setup]\nLeft=1\n\n\n[OPTION]\nFile1=merged\nFile0=third\n");
  {
    IniFile ini(file);
    EXPECT_EQ(ini.ReadString("option", "FILE0", ""), "first");
    EXPECT_EQ(ini.ReadString("Option", "File1", ""), "merged");
    for (int i = 2; i < 2000; ++i) ini.WriteString("Option", "File" + std::to_string(i), std::to_string(i));
    ini.WriteString("OPTION", "FILE0", "changed");
    ini.WriteInteger("setup", "Top", 2);
    ini.WriteInteger("Setup", "Width", 3);
    EXPECT_EQ(ini.ReadInteger("SETUP", "top", 0), 2);
    for (int i = 2; i < 2000; i += 97) EXPECT_EQ(ini.ReadString("option", "file" + std::to_string(i), ""), std::to_string(i));
    EXPECT_EQ(ini.ReadString("Option", "File0", ""), "changed");
    ini.UpdateFile();
  }
  const std::string text = ReadFile(file);
  EXPECT_EQ(text.substr(0, text.find("File3=")),
            "[Option]\nFile0=changed\nfile0=second\nFile1=merged\nFile0=third\nFile2=2\n");
  const std::string tail = "File1999=1999\n[Setup]\nLeft=1\nTop=2\nWidth=3\n\n\n";
  ASSERT_GT(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail) << "blank lines stay behind the keys";
  const IniFile again(file);
  EXPECT_EQ(again.ReadString("Option", "File1999", ""), "1999");
  EXPECT_EQ(again.ReadString("Option", "File0", ""), "changed");
  EXPECT_EQ(again.ReadInteger("Setup", "Width", 0), 3);
}

TEST(IniFileTest, NewFileIsCreatedAndARefusedWriteIsReported) {
  TempDir dir;
  IniFile ini(dir / "new.INI");
  ini.WriteString("A", "b", "c");
  ini.UpdateFile();
  EXPECT_EQ(ReadFile(dir / "new.INI"), "[A]\nb=c\n");

  IniFile nowhere(dir / "missing-folder/x.INI");
  nowhere.WriteString("A", "b", "c");
  try {
    nowhere.UpdateFile();
    FAIL() << "a write into a missing folder succeeded";
  } catch (const IniWriteError& e) {
    EXPECT_EQ(std::string(e.what()), dir / "missing-folder/x.INI" + " に書き込めません");
  }
}

// A writer killed at any moment leaves either the previous or the next complete file.
TEST(IniFileTest, KillingAWriterNeverLeavesAPartialFile) {
  TempDir dir;
  const std::string file = dir / "plumo.INI";
  std::mt19937 random(12345);
  int checked = 0;
  for (int round = 0; round < 60; ++round) {
    test::Child writer({PLUMO_INI_WRITER, file});
    if (round == 0) {
      ASSERT_TRUE(test::PollUntil([&] { return IniFile(file).SectionExists("Option"); }));
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
    writer.Signal(SIGKILL);
    ASSERT_EQ(writer.Wait(), 128 + SIGKILL);
    const IniFile ini(file);
    const int count = ini.ReadInteger("Option", "FileCount", -1);
    ASSERT_TRUE(count == 2000 || count == 2500) << "round " << round << ": FileCount " << count;
    ASSERT_EQ(ini.ReadInteger("Option", "NowIndex", -1), count - 1) << "round " << round << ": the file ends early";
    ASSERT_EQ(ini.ReadString("Option", "File" + std::to_string(count - 1), ""),
              "/music/some folder/entry number " + std::to_string(count - 1) + ".mp3");
    ++checked;
  }
  EXPECT_EQ(checked, 60);
  // What the killed writers left beside the file goes; the file stays.
  IniFile::RemoveTemporaries(file);
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) left.push_back(entry.path().filename());
  EXPECT_EQ(left, std::vector<std::string>{"plumo.INI"});
}

TEST(IniFileTest, ReplacingKeepsTheFilesPermissions) {
  TempDir dir;
  const std::string file = dir / "a.INI";
  WriteFile(file, "[A]\n");
  ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
  IniFile ini(file);
  ini.WriteString("A", "b", "c");
  ini.UpdateFile();
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace plumo::platform
