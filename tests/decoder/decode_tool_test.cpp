// plumo-decode as a user runs it: failures, output formats, the --info report and tagged files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <cstring>
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

// Runs a shell command, its standard output and error captured.
ToolRun RunShell(const std::string& command) {
  const std::string err = TempPath("plumo_decode_stderr.txt");
  const std::string out = TempPath("plumo_decode_stdout.txt");
  const std::string cmd = "{ " + command + "; } >" + out + " 2>" + err;
  const int raw = std::system(cmd.c_str());
  auto slurp = [](const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(err), slurp(out)};
}

ToolRun RunTool(const std::string& args) { return RunShell(std::string(PLUMO_DECODE_TOOL) + " " + args); }

TEST(DecodeTool, ReportsDataThatIsNotMpegAudio) {
  const std::string out = TempPath("plumo_decode_out.wav");
  for (const char* f : {"dmg_not_mpeg_png.mp3", "dmg_empty.mp3", "dmg_3bytes.mp3"}) {
    const ToolRun r = RunTool(test::DataPath(std::string("samples/") + f) + " " + out);
    EXPECT_EQ(r.status, 1) << f;
    EXPECT_EQ(r.errors, "plumo-decode: " + test::DataPath(std::string("samples/") + f) + ": unknown MPEG Audio format.\n");
  }
  const ToolRun missing = RunTool("/nonexistent/file.mp3 " + out);
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.errors.rfind("plumo-decode: /nonexistent/file.mp3: ", 0), 0u) << missing.errors;
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


void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// An ID3v2.3 tag with a UTF-16 title (its byte-order mark FF FE reads like a Layer I header),
// followed by `padding` zero bytes; `claimed` > 0 states a larger size than the tag has.
std::vector<uint8_t> Utf16Tag(size_t padding, size_t claimed = 0) {
  std::vector<uint8_t> text{1, 0xFF, 0xFE};
  for (char c : std::string("Tag title")) text.insert(text.end(), {static_cast<uint8_t>(c), 0});
  std::vector<uint8_t> tag{'T', 'I', 'T', '2', 0, 0, 0, static_cast<uint8_t>(text.size()), 0, 0};
  tag = tag + text;
  tag.resize(tag.size() + padding);
  const size_t size = claimed > 0 ? claimed : tag.size();
  std::vector<uint8_t> header{'I', 'D', '3', 3, 0, 0};
  for (int shift = 21; shift >= 0; shift -= 7) header.push_back(static_cast<uint8_t>((size >> shift) & 0x7F));
  return header + tag;
}

// A stream opens on its own first frame: tags in a row are passed, and a sync pattern in tag text
// or junk is taken only when the next frame of the stream follows it.
TEST(DecodeTool, AStreamOpensOnItsOwnFirstFrame) {
  const std::vector<uint8_t> audio = test::ReadFile(test::DataPath("samples/l3_m1_44k_128_joint_noinfo.mp3"));
  std::vector<uint8_t> junk(100, 'x');
  junk[10] = 0xFF, junk[11] = 0xFE, junk[40] = 0xFF, junk[41] = 0xFB, junk[42] = 0x90;
  const std::vector<uint8_t> cut = Utf16Tag(30000);
  const struct {
    const char* name;
    std::vector<uint8_t> file;
    bool plays;  // else refused
  } cases[] = {
      {"two tags, the second larger than the search window", Utf16Tag(100) + Utf16Tag(20000) + audio, true},
      {"sync patterns in junk before the first frame", junk + audio, true},
      {"a download cut inside its tag", std::vector<uint8_t>(cut.begin(), cut.begin() + 3000), false},
      {"only a tag", Utf16Tag(200), false},
  };
  const Decoded bare = DecodeBytes(audio);
  const std::string in = TempPath("in.mp3"), out = TempPath("out.pcm");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(in, c.file);
    std::filesystem::remove(out);
    const ToolRun r = RunTool(in + " " + out);
    if (c.plays) {
      EXPECT_EQ(r.status, 0) << r.errors;
      const std::vector<uint8_t> pcm = test::ReadFile(out);
      EXPECT_EQ(pcm.size(), bare.pcm.size() * 2);
      EXPECT_TRUE(pcm.size() == bare.pcm.size() * 2 && std::memcmp(pcm.data(), bare.pcm.data(), pcm.size()) == 0);
    } else {
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.errors, "plumo-decode: " + in + ": unknown MPEG Audio format.\n");
      EXPECT_FALSE(std::filesystem::exists(out));
    }
  }
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// OUT is complete or untouched: the input is never written over, a failed decode leaves no part
// of a file, and a WAV header that cannot be completed (a pipe, a FIFO) takes the streaming form.
TEST(DecodeTool, TheOutputIsWholeOrUntouched) {
  namespace fs = std::filesystem;
  const std::string dir = TempPath("dir");
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string in = dir + "/in.mp3";
  fs::copy_file(test::DataPath("samples/l3_m1_44k_128_joint_noinfo.mp3"), in);
  const std::vector<uint8_t> original = test::ReadFile(in);
  fs::create_symlink(in, dir + "/link.mp3");
  fs::create_hard_link(in, dir + "/hard.mp3");
  // The input as OUT, by its own name, another path, a symbolic and a hard link: refused.
  for (const std::string& out : {in, dir + "/../" + fs::path(dir).filename().string() + "/in.mp3", dir + "/link.mp3",
                                 dir + "/hard.mp3"}) {
    const ToolRun r = RunTool(in + " " + out);
    EXPECT_EQ(r.status, 1) << out;
    EXPECT_EQ(r.errors, "plumo-decode: " + out + ": is the input file; it is not overwritten\n");
    EXPECT_TRUE(test::ReadFile(in) == original) << out;
  }

  // A write that fails part-way (the file size limit of a full disk) leaves the old OUT as it was.
  const std::string old_out = dir + "/old.wav";
  WriteBytes(old_out, {'o', 'l', 'd'});
  const ToolRun full =
      RunShell("trap '' XFSZ; prlimit --fsize=20000 " + std::string(PLUMO_DECODE_TOOL) + " " + in + " " + old_out);
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.errors, "plumo-decode: " + old_out + ": cannot write: File too large\n");
  EXPECT_TRUE(test::ReadFile(old_out) == std::vector<uint8_t>({'o', 'l', 'd'}));
  const ToolRun missing_dir = RunTool(in + " " + dir + "/no/such/out.wav");
  EXPECT_EQ(missing_dir.status, 1);
  EXPECT_EQ(missing_dir.errors.rfind("plumo-decode: " + dir + "/no/such/out.wav: cannot write: ", 0), 0u) << missing_dir.errors;
  size_t entries = 0;
  for (const auto& e : fs::directory_iterator(dir)) entries += e.path().filename().string()[0] == '.' ? 100 : 1;
  EXPECT_EQ(entries, 4u) << "a temporary file was left behind";

  // A pipe and a FIFO receive the streaming form, the same data as a file.
  const std::string wav = dir + "/whole.wav";
  ASSERT_EQ(RunTool(in + " " + wav).status, 0);
  const std::vector<uint8_t> whole = test::ReadFile(wav);
  const std::string fifo = dir + "/fifo", received = dir + "/received.wav";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string tool = std::string(PLUMO_DECODE_TOOL) + " " + in;
  for (const std::string& how :
       {"{ " + tool + " /dev/stdout; echo $? >" + dir + "/status; } | cat >" + received + "; exit $(cat " + dir + "/status)",
        "cat " + fifo + " >" + received + " & " + tool + " " + fifo + "; s=$?; wait; exit $s"}) {
    SCOPED_TRACE(how);
    const ToolRun r = RunShell(how);
    EXPECT_EQ(r.status, 0) << r.errors;
    const std::vector<uint8_t> streamed = test::ReadFile(received);
    ASSERT_EQ(streamed.size(), whole.size());
    EXPECT_EQ(Le32(streamed, 4), 0xFFFFFFFFu);
    EXPECT_EQ(Le32(streamed, 40), 0xFFFFFFFFu);
    EXPECT_TRUE(std::equal(streamed.begin() + 44, streamed.end(), whole.begin() + 44));
  }

  const ToolRun info = RunTool("--info " + in + " " + wav);
  EXPECT_EQ(info.status, 0);
  EXPECT_EQ(info.errors, "plumo-decode: " + wav + ": ignored with --info\n");
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
  // An Info frame heads a CBR stream: one bit rate, not an average.
  const ToolRun cbr = RunTool("--info " + test::DataPath("samples/l3_crc_44k_128_info.mp3"));
  EXPECT_EQ(ReportLine(cbr.output, "bit rate"), "128 kbit/s (Info header)");
  // Lengths count the frames (with or without a header giving their number), less the encoder's
  // delay and padding.
  EXPECT_EQ(ReportLine(vbr.output, "length"), "2.00 s (88200 samples)");
  const ToolRun noheader = RunTool("--info " + test::DataPath("samples/l3_vbr_v4_noheader.mp3"));
  EXPECT_EQ(ReportLine(noheader.output, "length"), "2.04 s (89856 samples)");
  // The kernels: exact on this processor, in the widest form it runs.
  const std::string kernels = ReportLine(vbr.output, "kernels");
  EXPECT_EQ(kernels.rfind("exact", 0), 0u) << kernels;
  EXPECT_NE(kernels.find(std::string("windows ") + KernelFormName(BestKernelForm())), std::string::npos) << kernels;
}

// --kernels: every form this processor has gives the PCM of the default choice and is the one
// --info reports; a form it lacks, or an unknown one, is refused before anything is written.
TEST(DecodeTool, EveryKernelFormGivesTheSamePcm) {
  const struct {
    const char* option;
    KernelForm form;
  } forms[] = {{"scalar", KernelForm::kScalar}, {"avx2", KernelForm::kAvx2}, {"avx512", KernelForm::kAvx512}};
  const std::string out = TempPath("out.pcm");
  for (const char* file : {"conformance/l3-compl.bit", "samples/l3_crc_32k_80_mono_noinfo.mp3",
                           "conformance/l2-fl13.bit", "conformance/l1-fl2.bit"}) {
    const std::string in = test::DataPath(file);
    ASSERT_EQ(RunTool("--kernels auto " + in + " " + out).status, 0);
    const std::vector<uint8_t> chosen = test::ReadFile(out);
    for (const auto& k : forms) {
      SCOPED_TRACE(std::string(file) + " --kernels " + k.option);
      std::filesystem::remove(out);
      const std::string option = std::string("--kernels ") + k.option;
      const ToolRun r = RunTool(option + " " + in + " " + out);
      const ToolRun info = RunTool(option + " --info " + in);
      if (k.form <= BestKernelForm()) {
        EXPECT_EQ(r.status, 0) << r.errors;
        EXPECT_TRUE(test::ReadFile(out) == chosen);
        EXPECT_NE(ReportLine(info.output, "kernels").find(std::string("windows ") + KernelFormName(k.form)),
                  std::string::npos) << info.output;
      } else {
        const std::string refusal =
            "plumo-decode: " + option + ": this processor has no " + KernelFormName(k.form) + "\n";
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.errors, refusal);
        EXPECT_FALSE(std::filesystem::exists(out));
        EXPECT_EQ(info.status, 1);
        EXPECT_EQ(info.errors, refusal);
      }
    }
  }
  const ToolRun unknown = RunTool("--kernels sse9 " + test::DataPath("conformance/l2-fl13.bit") + " " + out);
  EXPECT_EQ(unknown.status, 2) << "a command line that is not one";
  EXPECT_EQ(unknown.errors.rfind("plumo-decode: unknown kernel form 'sse9'\nusage: ", 0), 0u) << unknown.errors;
  const ToolRun version = RunTool("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.output.rfind("plumo-decode 0.", 0), 0u) << version.output;
}

}  // namespace
}  // namespace plumo
