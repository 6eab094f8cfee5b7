// Exact lengths, the encoder's delay and padding, and seeking, checked on what plumo-decode and
// plumo-play write. The LAME files are made at test time: one continuous signal cut at sample
// positions that are not frame multiples, each part encoded as CBR (Info frame) and VBR (Xing).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "test_files.h"

namespace plumo {
namespace {

struct ShellRun {
  int status;
  std::string output;
};

ShellRun Shell(const std::string& command) {
  std::string output;
  std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return {-1, ""};
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  const int raw = ::pclose(pipe);
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, output};
}

std::string Decode() { return std::string(PLUMO_DECODE_TOOL) + " "; }

// 16-bit PCM of a WAV file written by plumo-decode or the WAV device, with its format.
struct Wav {
  int channels = 0;
  int rate = 0;
  std::vector<uint8_t> data;
  int64_t Samples() const { return static_cast<int64_t>(data.size()) / (2 * channels); }
};

Wav ReadWav(const std::string& path) {
  const std::vector<uint8_t> b = test::ReadFile(path);
  Wav w;
  if (b.size() < 44) return w;
  w.channels = b[22] | b[23] << 8;
  w.rate = b[24] | b[25] << 8 | b[26] << 16 | b[27] << 24;
  w.data.assign(b.begin() + 44, b.end());
  return w;
}

// The test files, made once: the continuous signal's parts and their encodings.
class Made {
 public:
  static const Made& Get() {
    static const Made made;
    return made;
  }
  std::string dir;
  // Where the parts begin and end in the continuous signal (44.1 kHz stereo).
  std::vector<int64_t> cuts{0, 40000, 93001, 150017};
  std::string Part(size_t i) const { return dir + "part" + std::to_string(i) + ".wav"; }
  std::string Cbr(size_t i) const { return dir + "cbr" + std::to_string(i) + ".mp3"; }
  std::string Vbr(size_t i) const { return dir + "vbr" + std::to_string(i) + ".mp3"; }
  // Without a LAME tag; the delay and length in an iTunes comment instead.
  std::string ITunes(size_t i) const { return dir + "itunes" + std::to_string(i) + ".mp3"; }
  bool ok = false;

 private:
  ~Made() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  Made() {
    dir = testing::TempDir() + "plumo_gapless_" + std::to_string(::getpid()) + "/";
    std::filesystem::create_directories(dir);
    // A different sweep in each channel.
    ok = Shell("sox -n -r 44100 -c 2 -b 16 " + dir + "whole.wav synth 4 sine 200-4000 sine 300-6000 vol 0.5").status == 0;
    for (size_t i = 0; ok && i + 1 < cuts.size(); ++i) {
      const std::string trim =
          " trim " + std::to_string(cuts[i]) + "s " + std::to_string(cuts[i + 1] - cuts[i]) + "s";
      ok = Shell("sox " + dir + "whole.wav " + Part(i) + trim).status == 0 &&
           Shell("lame --quiet -b 128 " + Part(i) + " " + Cbr(i)).status == 0 &&
           Shell("lame --quiet -V 2 " + Part(i) + " " + Vbr(i)).status == 0 &&
           Shell("lame --quiet -t -b 128 " + Part(i) + " " + dir + "untagged.mp3").status == 0;
      if (!ok) break;
      // An ID3v2.3 tag with one COMM frame described "iTunSMPB": delay 576, padding, sample count.
      char value[64];
      std::snprintf(value, sizeof value, " 00000000 00000240 00000000 %016llX",
                    static_cast<unsigned long long>(cuts[i + 1] - cuts[i]));
      std::string frame = std::string("\0eng", 4) + "iTunSMPB" + std::string(1, '\0') + value;
      std::string tag = "COMM";
      for (int shift = 24; shift >= 0; shift -= 8) tag += static_cast<char>((frame.size() >> shift) & 0xFF);
      tag += std::string(2, '\0') + frame;
      std::string header = "ID3" + std::string("\3\0\0", 3);
      for (int shift = 21; shift >= 0; shift -= 7) header += static_cast<char>((tag.size() >> shift) & 0x7F);
      const std::vector<uint8_t> audio = test::ReadFile(dir + "untagged.mp3");
      std::ofstream(ITunes(i), std::ios::binary) << header << tag << std::string(audio.begin(), audio.end());
    }
  }
};

// Signal-to-error ratio in dB of a decode against the samples it was encoded from.
double Snr(const std::vector<uint8_t>& decoded, const std::vector<uint8_t>& original) {
  double signal = 0, error = 0;
  for (size_t i = 0; i + 1 < std::min(decoded.size(), original.size()); i += 2) {
    const double a = static_cast<int16_t>(original[i] | original[i + 1] << 8);
    const double b = static_cast<int16_t>(decoded[i] | decoded[i + 1] << 8);
    signal += a * a;
    error += (a - b) * (a - b);
  }
  return 10 * std::log10(signal / std::max(error, 1.0));
}

TEST(Gapless, EachFileDecodesToExactlyTheSamplesEncoded) {
  const Made& m = Made::Get();
  ASSERT_TRUE(m.ok) << "sox and lame make the test files";
  const std::string out = m.dir + "out.wav";
  // Two files joined: the first one's header counts only its own frames, and the second plays too.
  const std::string joined = m.dir + "joined.mp3";
  ASSERT_EQ(Shell("cat " + m.Vbr(0) + " " + m.Vbr(1) + " > " + joined).status, 0);
  ASSERT_EQ(Shell(Decode() + joined + " " + out).status, 0);
  EXPECT_GT(ReadWav(out).Samples(), m.cuts[2]);
  for (size_t i = 0; i + 1 < m.cuts.size(); ++i) {
    const int64_t samples = m.cuts[i + 1] - m.cuts[i];
    const Wav original = ReadWav(m.Part(i));
    for (const std::string& file : {m.Cbr(i), m.Vbr(i), m.ITunes(i)}) {
      SCOPED_TRACE(file);
      ASSERT_EQ(Shell(Decode() + file + " " + out).status, 0);
      const Wav decoded = ReadWav(out);
      EXPECT_EQ(decoded.Samples(), samples);
      // Lined up with the encoded samples: a delay left in would leave no likeness at all.
      EXPECT_GT(Snr(decoded.data, original.data), 15.0);
      EXPECT_NE(Shell(Decode() + "--info " + file).output.find(" s (" + std::to_string(samples) + " samples)\n"),
                std::string::npos);
      // Frame by frame: the header frame stays out, every audio frame is whole.
      ASSERT_EQ(Shell(Decode() + "--no-gapless " + file + " " + out).status, 0);
      const int64_t whole = ReadWav(out).Samples();
      EXPECT_EQ(whole % 1152, 0);
      EXPECT_GT(whole, samples + 576);
    }
  }
}

// Seeking gives, bit for bit, the continuous decode from the sample sought, for every kind of
// stream; a pipe cannot seek and drops the samples before the start instead.
TEST(Seek, StartsBitForBitWhereTheContinuousDecodeIs) {
  const Made& m = Made::Get();
  ASSERT_TRUE(m.ok) << "sox and lame make the test files";
  const std::string samples = test::DataPath("samples/"), conformance = test::DataPath("conformance/");
  const std::vector<std::string> files = {
      m.Cbr(1),                                // MPEG-1 Layer III CBR, Info frame
      m.Vbr(1),                                // VBR, Xing frame
      samples + "l3_vbr_v4_noheader.mp3",      // VBR without a header frame
      samples + "l3_m1_44k_32_mono.mp3",       // low rate: the bit reservoir spans many frames
      samples + "l3_m2_24k_160_joint.mp3",     // MPEG-2
      samples + "l3_m2_22k_32_mono.mp3",       //
      samples + "l3_m25_11k_32_joint.mp3",     // MPEG-2.5
      samples + "l3_m25_8k_8_mono.mp3",        //
      samples + "l2_m1_44k_112_joint.mp2",     // Layer II
      samples + "l2_m2_16k_32_mono.mp2",       //
      conformance + "l1-fl2.bit",              // Layer I
  };
  const std::string whole_wav = m.dir + "seek_whole.wav", part_wav = m.dir + "seek_part.wav";
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    ASSERT_EQ(Shell(Decode() + file + " " + whole_wav).status, 0);
    const Wav whole = ReadWav(whole_wav);
    const int64_t n = whole.Samples();
    ASSERT_GT(n, 10000);
    const size_t bytes_per_sample = static_cast<size_t>(2 * whole.channels);
    const auto seconds = [&](int64_t k) {
      char text[32];
      std::snprintf(text, sizeof text, "%.9f", static_cast<double>(k) / whole.rate);
      return std::string(text);
    };
    const struct {
      int64_t start, length;  // length < 0: to the end
      bool pipe;
    } cases[] = {{1, -1, false},         {1151, -1, false},     {1152, -1, false},    {4999, -1, false},
                 {n / 2 + 7, -1, false}, {n - 100, -1, false},  {n, -1, false},       {n / 3, 1000, false},
                 {n / 2 + 7, -1, true}};
    for (const auto& c : cases) {
      SCOPED_TRACE("start " + std::to_string(c.start) + (c.pipe ? " through a pipe" : ""));
      std::string command = Decode() + "--start " + seconds(c.start) + " ";
      if (c.length >= 0) command += "--length " + seconds(c.length) + " ";
      command = c.pipe ? "cat " + file + " | " + command + "/dev/stdin " + part_wav : command + file + " " + part_wav;
      ASSERT_EQ(Shell(command).status, 0);
      const size_t from = static_cast<size_t>(c.start) * bytes_per_sample;
      const size_t to = c.length < 0 ? whole.data.size() : from + static_cast<size_t>(c.length) * bytes_per_sample;
      const std::vector<uint8_t> expected(whole.data.begin() + static_cast<std::ptrdiff_t>(from),
                                          whole.data.begin() + static_cast<std::ptrdiff_t>(to));
      EXPECT_TRUE(ReadWav(part_wav).data == expected);
    }
  }
  // A pipe's length is not known.
  EXPECT_NE(Shell("cat " + m.Vbr(0) + " | " + Decode() + "--info /dev/stdin").output.find("length: unknown\n"),
            std::string::npos);
}

// plumo-play --start: the player's seek plays what plumo-decode --start writes.
TEST(Seek, ThePlayerStartsWhereTheDecoderDoes) {
  const Made& m = Made::Get();
  ASSERT_TRUE(m.ok) << "sox and lame make the test files";
  const std::string played = m.dir + "played.wav", decoded = m.dir + "decoded.wav";
  for (const std::string& file : {m.Vbr(2), test::DataPath("samples/l3_m25_11k_32_joint.mp3")}) {
    for (const char* start : {"0.25", "1.0005"}) {
      SCOPED_TRACE(file + " from " + start);
      std::remove(played.c_str());
      const ShellRun play =
          Shell(std::string(PLUMO_PLAY_TOOL) + " --device wav:" + played + " --start " + start + " " + file);
      ASSERT_EQ(play.status, 0) << play.output;
      ASSERT_EQ(Shell(Decode() + "--start " + start + " " + file + " " + decoded).status, 0);
      const Wav p = ReadWav(played), d = ReadWav(decoded);
      EXPECT_GT(d.Samples(), 1000);
      EXPECT_TRUE(p.data == d.data);
    }
  }
}

}  // namespace
}  // namespace plumo
