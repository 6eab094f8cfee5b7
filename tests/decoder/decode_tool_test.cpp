// plumo-decode as a user runs it: failures, output formats, the --info report and tagged files.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cpu.h"
#include "decoded_stream.h"
#include "test_files.h"

namespace plumo {
namespace {

// A file in the temporary folder owned by the running test (tests run in parallel).
std::string TempPath(const std::string& name) {
  const testing::TestInfo* t = testing::UnitTest::GetInstance()->current_test_info();
  return testing::TempDir() + t->test_suite_name() + "_" + t->name() + "_" + name;
}

using test::Decoded;
using test::DecodeBytes;
using test::DecodeFile;

// Output of the command-line tool.
struct ToolRun {
  int status;
  std::string errors;
  std::string output;
};

ToolRun RunTool(const std::string& args) {
  const std::string err = TempPath("plumo_decode_stderr.txt");
  const std::string out = TempPath("plumo_decode_stdout.txt");
  const std::string cmd = std::string(PLUMO_DECODE_TOOL) + " " + args + " >" + out + " 2>" + err;
  const int raw = std::system(cmd.c_str());
  auto slurp = [](const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(err), slurp(out)};
}

TEST(DecodeTool, ReportsDataThatIsNotMpegAudio) {
  const std::string out = TempPath("plumo_decode_out.wav");
  for (const char* f : {"dmg_not_mpeg_png.mp3", "dmg_empty.mp3", "dmg_3bytes.mp3"}) {
    const ToolRun r = RunTool(test::DataPath(std::string("samples/") + f) + " " + out);
    EXPECT_EQ(r.status, 1) << f;
    EXPECT_EQ(r.errors, "unknown MPEG Audio format.\n") << f;
  }
  const ToolRun missing = RunTool("/nonexistent/file.mp3 " + out);
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.errors.find("/nonexistent/file.mp3"), std::string::npos);
}

TEST(DecodeTool, WritesWavAndRawPcm) {
  const std::string in = test::DataPath("conformance/l2-fl13.bit");
  const std::string wav = TempPath("plumo_decode_out.wav");
  const std::string raw = TempPath("plumo_decode_out.pcm");
  ASSERT_EQ(RunTool(in + " " + wav).status, 0);
  ASSERT_EQ(RunTool(in + " " + raw).status, 0);
  const std::vector<uint8_t> w = test::ReadFile(wav), r = test::ReadFile(raw);
  ASSERT_EQ(w.size(), r.size() + 44);
  EXPECT_EQ(std::string(w.begin(), w.begin() + 4), "RIFF");
  EXPECT_EQ(std::string(w.begin() + 36, w.begin() + 40), "data");
  const uint32_t data_size = w[40] | w[41] << 8 | w[42] << 16 | static_cast<uint32_t>(w[43]) << 24;
  EXPECT_EQ(data_size, r.size());
  EXPECT_TRUE(std::equal(r.begin(), r.end(), w.begin() + 44));
  const Decoded d = DecodeFile(in);
  EXPECT_EQ(r.size(), d.pcm.size() * 2);
}


// The value of a "name: value" line of the --info report.
std::string ReportLine(const std::string& report, const std::string& name) {
  const std::string key = "\n" + name + ": ";
  const size_t at = ("\n" + report).find(key);
  if (at == std::string::npos) return "<missing>";
  const size_t start = at + key.size() - 1;
  return report.substr(start, report.find('\n', start) - start);
}

// The file's frames alone: `frames` frames walked from the first one, every tag and wrapper cut
// away without looking at them.
std::vector<uint8_t> FramesOnly(const std::vector<uint8_t>& file, size_t first, int frames) {
  size_t pos = first;
  for (int i = 0; i < frames; ++i) {
    FrameHeader h;
    const int length = ParseFrameHeader(file.data() + pos, 0, h);
    if (length <= 0) break;
    pos += static_cast<size_t>(PaddedFrameLength(h, length));
  }
  return std::vector<uint8_t>(file.begin() + static_cast<std::ptrdiff_t>(first),
                              file.begin() + static_cast<std::ptrdiff_t>(std::min(pos, file.size())));
}

TEST(DecodeTool, TaggedFilesReportTheirTextsAndPlayOnlyTheirAudio) {
  int checked = 0;
  for (const test::ManifestRow& row : test::ReadSamplesManifest()) {
    const std::string tags = row.at("tags");
    if (tags == "none" || tags == "-") continue;
    SCOPED_TRACE(row.at("file"));
    const std::string path = test::DataPath("samples/" + row.at("file"));
    const ToolRun info = RunTool("--info " + path);
    ASSERT_EQ(info.status, 0) << info.errors;
    EXPECT_EQ(ReportLine(info.output, "title"), row.at("expected_title"));
    EXPECT_EQ(ReportLine(info.output, "artist"), row.at("expected_artist"));
    EXPECT_EQ(ReportLine(info.output, "album"), row.at("expected_album"));

    const std::vector<uint8_t> file = test::ReadFile(path);
    const Decoded tagged = DecodeBytes(file);
    const Decoded bare =
        DecodeBytes(FramesOnly(file, std::stoul(row.at("first_frame_offset")), std::stoi(row.at("frames"))));
    EXPECT_GT(tagged.frames, 0);
    EXPECT_EQ(tagged.frames, bare.frames);
    EXPECT_TRUE(tagged.pcm == bare.pcm);
    ++checked;
  }
  EXPECT_GE(checked, 14);
}

// Tag text reaches the terminal without its control characters; the tag kinds of the newer
// versions are reported like the others.
TEST(DecodeTool, InfoReplacesControlCharactersInTagText) {
  const std::string title = "Bell\a \x1B[31mred\nfake: line\xC2\x85";
  std::vector<uint8_t> file{'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0};
  const auto frame = [&](const std::string& id, const std::string& text) {
    file.insert(file.end(), id.begin(), id.end());
    const size_t size = text.size() + 1;
    file.insert(file.end(), {0, 0, static_cast<uint8_t>(size >> 7), static_cast<uint8_t>(size & 0x7F), 0, 0, 3});
    file.insert(file.end(), text.begin(), text.end());
  };
  frame("TIT2", title);
  frame("TPE1", std::string("One\0Two", 7));
  file[9] = static_cast<uint8_t>(file.size() - 10);
  const std::vector<uint8_t> audio = test::ReadFile(test::DataPath("samples/l3_m1_44k_128_joint_noinfo.mp3"));
  file.insert(file.end(), audio.begin(), audio.end());
  const std::string path = TempPath("control.mp3");
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));

  const ToolRun r = RunTool("--info " + path);
  ASSERT_EQ(r.status, 0) << r.errors;
  const std::string shown = "Bell\uFFFD \uFFFD[31mred\uFFFDfake: line\uFFFD";
  EXPECT_EQ(ReportLine(r.output, "title"), shown);
  EXPECT_NE(r.output.find("[ID3v2]\n  TIT2=" + shown + "\n  TPE1=One / Two\n"), std::string::npos) << r.output;
  EXPECT_EQ(ReportLine(r.output, "artist"), "One / Two");
  EXPECT_EQ(ReportLine(r.output, "fake"), "<missing>");
  EXPECT_EQ(r.output.find_first_of("\a\x1B\r"), std::string::npos);
  EXPECT_EQ(ReportLine(r.output, "audio"), std::to_string(audio.size()) + " bytes from offset " + std::to_string(file.size() - audio.size()));
}

TEST(DecodeTool, InfoGroupsTheTagLinesByKind) {
  const ToolRun r = RunTool("--info " + test::DataPath("samples/tag_lyrics3v2_id3v1.mp3"));
  ASSERT_EQ(r.status, 0);
  const size_t lyrics = r.output.find("[Lyrics3]\n"), id3v1 = r.output.find("[ID3v1]\n");
  ASSERT_NE(lyrics, std::string::npos);
  ASSERT_NE(id3v1, std::string::npos);
  EXPECT_NE(r.output.find("  IND=110\n"), std::string::npos);
  EXPECT_NE(r.output.find("  GENRE=Vocal\n", id3v1), std::string::npos);
  EXPECT_EQ(ReportLine(r.output, "version"), "MPEG-1");
  EXPECT_EQ(ReportLine(r.output, "layer"), "3");
  EXPECT_EQ(ReportLine(r.output, "channels"), "2 (joint stereo)");
  EXPECT_EQ(ReportLine(r.output, "bit rate"), "128 kbit/s");

  const ToolRun vbr = RunTool("--info " + test::DataPath("samples/l3_vbr_v2_xing.mp3"));
  EXPECT_EQ(ReportLine(vbr.output, "bit rate").rfind("VBR (Xing header", 0), 0u) << vbr.output;
  EXPECT_EQ(ReportLine(vbr.output, "length"), "2.04 s");
  // The kernels: exact on this processor, in the widest form it runs.
  const std::string kernels = ReportLine(vbr.output, "kernels");
  EXPECT_EQ(kernels.rfind("exact", 0), 0u) << kernels;
  EXPECT_NE(kernels.find(std::string("windows ") + KernelFormName(BestKernelForm())), std::string::npos) << kernels;
}

}  // namespace
}  // namespace plumo
