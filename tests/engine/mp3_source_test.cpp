// Opening streams and producing their frames: where the audio starts and ends, VBR header
// frames, refused data, junk and damaged frames.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "memory_stream.h"
#include "mp3_source.h"
#include "non_seekable_stream.h"
#include "test_files.h"

namespace plumo {
namespace {

std::vector<uint8_t> Sample(const std::string& name) { return test::ReadFile(test::DataPath("samples/" + name)); }

// Opens bytes on a decoder of its own and produces every frame.
struct Opened {
  Decoder decoder;
  TMemoryStream memory;
  TNonSeekableStream pipe{memory, 1000};
  TMP3Source source{decoder};
  std::vector<uint8_t> pcm;
  int frames = 0;

  explicit Opened(std::vector<uint8_t> bytes, bool seekable = true) : memory(std::move(bytes)) {
    if (seekable)
      source.Open(&memory, true);
    else
      source.Open(&pipe, false);
  }
  Opened& Play() {
    std::vector<uint8_t> frame(static_cast<size_t>(source.BytesPerFrame()));
    for (int guard = 0; !source.AtEndOfData() && guard < 1000000; ++guard)
      if (source.ProduceFrame(frame.data())) pcm.insert(pcm.end(), frame.begin(), frame.end()), ++frames;
    return *this;
  }
};

int ExpectedFrames(const std::string& name) {
  for (const test::ManifestRow& row : test::ReadSamplesManifest())
    if (row.at("file") == name) return std::stoi(row.at("frames"));
  return -1;
}

TEST(Mp3Source, JunkBeforeTheFirstFrameMovesTheDataStart) {
  Opened o(Sample("dmg_junk100_before_first_frame.mp3"));
  EXPECT_EQ(o.source.Info().AudioStart(), 0);
  EXPECT_EQ(o.source.DataStart(), 100);
  EXPECT_EQ(o.source.DataLength(), o.source.Info().AudioSize() - 100);
  EXPECT_EQ(o.Play().frames, 47);
}

TEST(Mp3Source, VbrHeaderFramesAreNotPlayed) {
  std::vector<uint8_t> bytes = Sample("l3_vbr_v2_xing.mp3");
  {
    Opened o(bytes);
    EXPECT_EQ(o.source.VbrHeader(), TVbrHeader::Xing);
    EXPECT_GT(o.source.DataStart(), 0);
    EXPECT_EQ(o.Play().frames, ExpectedFrames("l3_vbr_v2_xing.mp3") - 1);
  }
  // A Xing header whose byte count is 0 keeps the stream's length, and is still skipped.
  const size_t xing = std::string(bytes.begin(), bytes.begin() + 200).find("Xing");
  ASSERT_NE(xing, std::string::npos);
  const uint32_t flags = bytes[xing + 7];
  ASSERT_TRUE(flags & 2);
  const size_t count_at = xing + 8 + ((flags & 1) ? 4 : 0);
  std::memset(&bytes[count_at], 0, 4);
  Opened zero(bytes);
  EXPECT_EQ(zero.source.VbrHeader(), TVbrHeader::Xing);
  EXPECT_EQ(zero.source.DataStart() + zero.source.DataLength(), static_cast<int64_t>(bytes.size()));
}

TEST(Mp3Source, VbrHeadersAreFoundWhereEncodersPutThem) {
  // VBRI stands 32 bytes after the header in every mode; a Xing/Info table after the side
  // information, with or without room for a CRC.
  const struct {
    const char* file;
    int at;
    const char* id;
    TVbrHeader found;
  } cases[] = {{"l3_m1_44k_32_mono.mp3", 36, "VBRI", TVbrHeader::Vbri},
               {"l3_m1_44k_32_mono.mp3", 21, "Info", TVbrHeader::Info},
               {"l3_m1_44k_32_mono.mp3", 21, "VBRI", TVbrHeader::None},
               {"l3_crc_32k_80_mono_noinfo.mp3", 4 + 2 + 17, "Xing", TVbrHeader::Xing},
               {"l3_crc_32k_80_mono_noinfo.mp3", 4 + 17, "Info", TVbrHeader::Info}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.id + " at " + std::to_string(c.at));
    std::vector<uint8_t> bytes = Sample(c.file);
    std::memcpy(&bytes[static_cast<size_t>(c.at)], c.id, 4);
    Opened o(bytes);
    EXPECT_EQ(o.source.VbrHeader(), c.found);
    EXPECT_EQ(o.source.DataStart() > 0, c.found != TVbrHeader::None);
  }
}

TEST(Mp3Source, DataThatIsNotPlayableMpegAudioIsRefused) {
  for (const char* name : {"dmg_empty.mp3", "dmg_3bytes.mp3", "dmg_not_mpeg_png.mp3",
                           "l3_free_44k_400.mp3"}) {
    SCOPED_TRACE(name);
    try {
      Opened o(Sample(name));
      ADD_FAILURE() << "opened";
    } catch (const EUnknownFormat& e) {
      EXPECT_STREQ(e.what(), "unknown MPEG Audio format.");
    }
  }
}

TEST(Mp3Source, DamagedStreamsEndAsTheyShould) {
  // Frames cut off by the end are dropped; junk is skipped; 4096 junk bytes in a row end the data;
  // frames of another sampling frequency count as junk.
  EXPECT_EQ(Opened(Sample("dmg_truncated_midframe.mp3")).Play().frames, 30);
  EXPECT_EQ(Opened(Sample("dmg_junk300_between_frames.mp3")).Play().frames, 47);
  EXPECT_EQ(Opened(Sample("dmg_junk5000_between_frames.mp3")).Play().frames, 25);
  EXPECT_EQ(Opened(Sample("dmg_first_frame_at_5000.mp3")).Play().frames, 47);
  // A false sync before the first frame is passed over.
  EXPECT_EQ(Opened(Sample("dmg_false_sync_first.mp3")).Play().frames, 47);
  Opened change(Sample("dmg_samplerate_change_44k_48k.mp3"));
  change.Play();
  EXPECT_GE(change.frames, 40);
  EXPECT_EQ(change.source.SampleRate(), 44100);
}

TEST(Mp3Source, APipeGivesTheSamePcmAsAFile) {
  for (const char* name : {"l3_m1_44k_128_joint_info.mp3", "l2_m1_44k_112_joint.mp2", "tag_id3v23_utf16.mp3"}) {
    SCOPED_TRACE(name);
    Opened file(Sample(name));
    Opened pipe(Sample(name), false);
    EXPECT_EQ(pipe.source.DataLength(), TMP3Source::kOpenLength);
    EXPECT_TRUE(file.Play().pcm == pipe.Play().pcm);
  }
}

TEST(Mp3Source, RewindPlaysTheSameFramesAgain) {
  Opened o(Sample("l3_m1_44k_128_joint_info.mp3"));
  const std::vector<uint8_t> first = o.Play().pcm;
  o.source.Rewind();
  o.pcm.clear();
  EXPECT_TRUE(o.Play().pcm == first);
}

}  // namespace
}  // namespace plumo
