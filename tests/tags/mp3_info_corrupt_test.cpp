// TMP3Info on damaged and hostile input: never a crash, a hang, an unbounded allocation or an
// audio range outside the file; and few reads on large files.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>

#include "allocation_watch.h"
#include "tag_builder.h"
#include "test_files.h"
#include "text_conversion.h"

namespace plumo {
namespace {

using test::Append;
using test::TAllocationWatch;
using test::Audio;
using test::Bytes;
using test::TExamination;
using test::operator+;

constexpr int32_t kCapacity = 65536;

// What must hold after any examination, whatever the bytes.
void ExpectSound(const TExamination& exam, size_t largestAllocation, int maxReads = 400) {
  const TMP3Info& info = exam.Info;
  EXPECT_GE(info.AudioStart(), 0);
  EXPECT_GE(info.AudioSize(), 0);
  if (exam.End) {
    EXPECT_LE(info.AudioStart() + info.AudioSize(), exam.Size());
    if (info.Found().Contains(mitID3V1) && info.TagPos() >= info.AudioStart()) {
      EXPECT_LE(info.AudioStart() + info.AudioSize(), info.TagPos());
    }
    if (info.Found().Contains(mitLyrics) && info.LyricsPos() >= info.AudioStart()) {
      EXPECT_LE(info.AudioStart() + info.AudioSize(), info.LyricsPos());
    }
  } else {
    EXPECT_EQ(exam.PositionAfterFront, info.AudioStart());  // the reader stands at the audio start
  }
  EXPECT_LE(exam.Counter.Reads, maxReads);
  EXPECT_LE(largestAllocation, static_cast<size_t>(exam.Reader.Capacity()) + 64);
  for (const TMP3InfoType kind : {mitID3V1, mitID3V2, mitRiff, mitLyrics}) {
    EXPECT_LE(info.Lines(kind).size(), TMP3Info::kMaxLines);
    for (const std::string& line : info.Lines(kind)) EXPECT_TRUE(IsValidUtf8(line));
  }
}

// Examines seekable and non-seekable, and checks the sound properties; returns the seekable run.
std::unique_ptr<TExamination> Check(const Bytes& bytes, int32_t capacity = kCapacity) {
  // The copies of the bytes are made before watching: only the examination is measured.
  {
    Bytes copy = bytes;
    TAllocationWatch watch;
    TExamination pipe(std::move(copy), false, capacity, 997);
    ExpectSound(pipe, watch.Largest());
  }
  Bytes copy = bytes;
  TAllocationWatch watch;
  auto exam = std::make_unique<TExamination>(std::move(copy), true, capacity);
  ExpectSound(*exam, watch.Largest());
  return exam;
}

Bytes Id3v2WithRawSize(uint8_t version, const uint8_t sizeBytes[4], const Bytes& body) {
  Bytes out{'I', 'D', '3', version, 0, 0, sizeBytes[0], sizeBytes[1], sizeBytes[2], sizeBytes[3]};
  return out + body;
}

TEST(Mp3InfoCorrupt, Id3v2SizesBeyondTheFile) {
  const uint8_t larger[4] = {0, 0, 0x7F, 0x7F};   // 16383, the file is smaller
  const uint8_t huge[4] = {0xFF, 0xFF, 0xFF, 0xFF};  // bytes taken whole: about 570 MB
  for (const uint8_t version : {2, 3, 4}) {
    for (const uint8_t* size : {larger, huge}) {
      SCOPED_TRACE(version);
      const auto exam = Check(Id3v2WithRawSize(version, size, test::TextFrame("TIT2", "t") + Audio(2000)));
      EXPECT_FALSE(exam->Info.Found().Contains(mitID3V2));
      EXPECT_EQ(exam->Info.AudioStart(), 0);
      EXPECT_EQ(exam->Info.AudioSize(), exam->Size());
    }
  }
}

TEST(Mp3InfoCorrupt, Id3v2FrameAndExtendedHeaderSizes) {
  for (const uint32_t frameSize : {0x80000000u, 0xFFFFFFFFu, 0x7FFFFFF0u, 0x00100000u}) {
    Bytes frames = test::TextFrame("TIT2", "ok") + test::TextFrame("TPE1", "bad");
    test::PutBe32(frames, 13 + 4, frameSize);
    const Bytes front = test::Id3v2(frames, 20);
    const auto exam = Check(front + Audio(1000));
    EXPECT_TRUE(exam->Info.Found().Contains(mitID3V2));
    EXPECT_EQ(exam->Info.Id3v2(), std::vector<std::string>{"TIT2=ok"});
    EXPECT_EQ(exam->Info.AudioStart(), static_cast<int64_t>(front.size()));
  }
  for (const uint32_t extSize : {0xFFFFFFFAu, 0x7FFFFFFFu, 1000000u}) {
    Bytes ext;
    test::AppendBe32(ext, extSize);
    Append(ext, Bytes{0, 0, 0, 0, 0, 0});
    const Bytes front = test::Id3v2(ext + test::TextFrame("TIT2", "x"), 10, 3, 0x40);
    const auto exam = Check(front + Audio(1000));
    EXPECT_TRUE(exam->Info.Id3v2().empty());
    EXPECT_EQ(exam->Info.AudioStart(), static_cast<int64_t>(front.size()));
  }
}

// Hostile sizes and flags in version 2.2 and 2.4 tags and in unsynchronised tags: sound results,
// the audio where the tag's header says, nothing from broken frames.
TEST(Mp3InfoCorrupt, Id3v22And24FramesAndUnsynchronisation) {
  const auto frame24 = [](std::string_view id, const Bytes& sizeBytes, uint8_t format, const Bytes& body) {
    Bytes out;
    Append(out, id);
    Append(out, sizeBytes);
    out.push_back(0);
    out.push_back(format);
    Append(out, body);
    return out;
  };
  const Bytes ok = frame24("TIT2", {0, 0, 0, 3}, 0, {0, 'o', 'k'});
  const std::vector<Bytes> frames = {
      frame24("TPE1", {0x7F, 0x7F, 0x7F, 0x7F}, 0, {0, 'x'}),        // beyond the tag
      frame24("TPE1", {0xFF, 0xFF, 0xFF, 0xFF}, 0, {0, 'x'}),        // plain and huge
      frame24("TPE1", {0, 0, 0, 2}, 0x01, {0, 'x'}),                 // data length longer than the frame
      frame24("TPE1", {0, 0, 0, 1}, 0x41, {0}),                      // group byte and data length, no room
      frame24("TPE1", {0, 0, 0, 4}, 0x02, {0xFF, 0x00, 0xFF, 0x00}),  // all unsynchronisation
      frame24("TPE1", {0, 0, 0, 3}, 0, {1, 0xFF, 0xFE}),             // UTF-16 with only a byte-order mark
      frame24("COMM", {0, 0, 0, 5}, 0, {1, 'e', 'n', 'g', 0}),       // description cut short
      frame24("TPE1", {0, 0, 0, 6}, 0, {0, 'a', 0, 0, 0, 'b'}),      // empty values
  };
  for (size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE(i);
    const Bytes front = test::Id3v2(ok + frames[i], 12, 4);
    const auto exam = Check(front + Audio(1000));
    EXPECT_TRUE(exam->Info.Found().Contains(mitID3V2));
    ASSERT_FALSE(exam->Info.Id3v2().empty());
    EXPECT_EQ(exam->Info.Id3v2()[0], "TIT2=ok");
    EXPECT_EQ(exam->Info.AudioStart(), static_cast<int64_t>(front.size()));
  }
  // Unsynchronised tags whose bytes are all 0xFF and zero, with and without a ring that holds them.
  for (const uint8_t version : {2, 3, 4}) {
    for (const int32_t capacity : {kCapacity, 4096}) {
      SCOPED_TRACE(std::to_string(version) + " " + std::to_string(capacity));
      Bytes body(9000);
      for (size_t i = 0; i < body.size(); ++i) body[i] = i % 3 ? 0xFF : 0x00;
      const Bytes front = test::Id3v2(body, 0, version, 0xC0);
      const auto exam = Check(front + Audio(500), capacity);
      EXPECT_TRUE(exam->Info.Found().Contains(mitID3V2));
      EXPECT_EQ(exam->Info.AudioStart(), static_cast<int64_t>(front.size()));
    }
  }
}

TEST(Mp3InfoCorrupt, Lyrics3LengthsThatAreNotDigits) {
  const Bytes good = test::Lyrics3v2({{"IND", "110"}, {"LYR", "words"}, {"EAL", "album"}});
  // Size field not digits, size reaching before the file, a field length not digits.
  Bytes badSize = good;
  badSize[badSize.size() - 15 + 2] = 'A';
  Bytes tooLarge = good;
  std::memcpy(tooLarge.data() + tooLarge.size() - 15, "999999", 6);
  Bytes badField = good;
  const size_t thirdLength = 11 + 11 + 13 + 3;
  badField[thirdLength + 4] = '-';
  Bytes overrun = good;  // the third field runs past the block
  std::memcpy(overrun.data() + thirdLength, "00099", 5);
  for (const Bytes* back : {&badSize, &tooLarge, &badField, &overrun}) {
    const auto exam = Check(Audio(2000) + *back + test::Id3v1("T"));
    EXPECT_FALSE(exam->Info.Found().Contains(mitLyrics));
    EXPECT_TRUE(exam->Info.Found().Contains(mitID3V1));
  }
  const auto partial = Check(Audio(2000) + badField);
  EXPECT_EQ(partial->Info.Lyrics(), (std::vector<std::string>{"IND=110", "LYR=words"}));  // kept before the fault
  EXPECT_EQ(Check(Audio(2000) + good)->Info.Lyrics().size(), 3u);
}

Bytes Riff(const Bytes& chunks) {
  Bytes out;
  Append(out, "RIFF");
  test::AppendLe32(out, static_cast<uint32_t>(chunks.size() + 4));
  Append(out, "WAVE");
  return out + chunks;
}

Bytes RawChunk(std::string_view id, uint32_t size) {
  Bytes out;
  Append(out, id);
  test::AppendLe32(out, size);
  return out;
}

TEST(Mp3InfoCorrupt, RiffChunkSizesThatLoopOrOverflow) {
  for (const uint32_t size : {0u, 0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 0x7FFFFFFEu}) {
    SCOPED_TRACE(size);
    const auto exam = Check(Riff(RawChunk("fmt ", size) + Audio(500) + RawChunk("data", 100) + Audio(100)));
    EXPECT_FALSE(exam->Info.Found().Contains(mitRiff));
    EXPECT_EQ(exam->Info.AudioStart(), 0);
  }
  // A data chunk larger than the file: the audio ends with the file.
  const auto big = Check(Riff(RawChunk("data", 0x7FFFFFF0u) + Audio(300)));
  EXPECT_TRUE(big->Info.Found().Contains(mitRiff));
  EXPECT_EQ(big->Info.AudioStart(), 20);
  EXPECT_EQ(big->Info.AudioSize(), 300);

  // INFO lists with looping, negative and oversized items.
  Bytes items = test::Chunk("INAM", {'n', 'a', 'm', 'e', 0});
  for (int i = 0; i < 600; ++i) Append(items, RawChunk("IZER", 0));
  Append(items, RawChunk("IBIG", 0x7FFFFFF0u));
  Bytes list;
  Append(list, "INFO");
  Append(list, items);
  const auto info = Check(Riff(test::Chunk("data", Audio(400)) + test::Chunk("LIST", list)));
  EXPECT_EQ(info->Info.RiffInfo(), std::vector<std::string>{"INAM=name"});
  EXPECT_EQ(info->Info.AudioSize(), 400);

  Bytes negative;
  Append(negative, "INFO");
  Append(negative, RawChunk("INAM", 0xFFFFFFF0u));
  Check(Riff(test::Chunk("data", Audio(400)) + test::Chunk("LIST", negative)));
  Check(Riff(test::Chunk("data", Audio(400)) + RawChunk("LIST", 0xFFFFFFFFu) + Bytes{'I', 'N', 'F', 'O'}));
}

Bytes MacBinary(uint32_t dataSize, uint32_t resSize) {
  Bytes header(128, 0);
  header[1] = 4;
  std::memcpy(header.data() + 2, "Tune", 4);
  test::PutBe32(header, 83, dataSize);
  test::PutBe32(header, 87, resSize);
  return header;
}

TEST(Mp3InfoCorrupt, MacBinaryHeadersLyingAboutTheirForks) {
  const auto lying = Check(MacBinary(0x7FFFFFFF, 0x7FFFFFFF) + Audio(1000) + test::Id3v1("Mac"));
  EXPECT_TRUE(lying->Info.Found().Contains(mitMacBin));
  EXPECT_EQ(lying->Info.AudioStart(), 128);
  EXPECT_EQ(lying->Info.Title(), "Mac");
  EXPECT_EQ(lying->Info.AudioSize(), 1000);

  const auto negative = Check(MacBinary(0x80000000u, 10) + Audio(1000));
  EXPECT_FALSE(negative->Info.Found().Contains(mitMacBin));

  const auto shortFork = Check(MacBinary(100, 0) + Audio(1000) + test::Id3v1("Outside"));
  EXPECT_EQ(shortFork->Info.AudioSize(), 100);
  EXPECT_FALSE(shortFork->Info.Found().Contains(mitID3V1));  // the tag lies outside the data fork
}

// Serves a large file without holding it: the front and tail bytes are real, the rest is zeros.
class TSparseStream final : public TStream {
 public:
  TSparseStream(Bytes front, Bytes tail, int64_t size) : FFront(std::move(front)), FTail(std::move(tail)), FSize(size) {}
  int32_t Read(void* buffer, int32_t count) override {
    ++Reads;
    auto* out = static_cast<uint8_t*>(buffer);
    const int32_t n = static_cast<int32_t>(std::max<int64_t>(0, std::min<int64_t>(count, FSize - FPosition)));
    const int64_t tailStart = FSize - static_cast<int64_t>(FTail.size());
    for (int32_t i = 0; i < n; ++i) {
      const int64_t at = FPosition + i;
      out[i] = at < static_cast<int64_t>(FFront.size()) ? FFront[static_cast<size_t>(at)]
               : at >= tailStart                         ? FTail[static_cast<size_t>(at - tailStart)]
                                                         : 0;
    }
    FPosition += n;
    return n;
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    FPosition = (origin == soBeginning ? 0 : origin == soCurrent ? FPosition : FSize) + offset;
    return FPosition;
  }
  int64_t Size() override { return FSize; }
  int Reads = 0;

 private:
  Bytes FFront, FTail;
  int64_t FSize;
  int64_t FPosition = 0;
};

TEST(Mp3InfoReads, A100MegabyteFileWithTagsAtBothEndsTakesFewReads) {
  constexpr int64_t kSize = 100 * 1000 * 1000;
  const Bytes front = test::Id3v2(test::TextFrame("TIT2", "Front Title, the longest") + test::TextFrame("TPE1", "Artist") +
                                      test::TextFrame("APIC", std::string(30000, 'j')) + test::TextFrame("TALB", "Album"),
                                  2048);
  const Bytes lyrics = test::Lyrics3v2({{"IND", "110"}, {"LYR", std::string(3000, 'l')}});
  const Bytes tail = lyrics + test::Id3v1("Back Title", "Back Artist", "Back Album");
  TSparseStream stream(front, tail, kSize);
  TMPStreamReader reader(kCapacity);
  reader.Attach(&stream, true);
  TMP3Info info;
  info.SetReader(&reader);
  ASSERT_TRUE(info.ReadFront());
  ASSERT_TRUE(info.ReadEnd());
  EXPECT_LT(stream.Reads, 64);
  EXPECT_EQ(info.Found(), (TMP3InfoTypes{mitID3V2, mitID3V1, mitLyrics}));
  EXPECT_EQ(info.Title(), "Front Title, the longest");
  EXPECT_EQ(info.Artist(), "Artist");
  EXPECT_EQ(info.Album(), "Album");
  EXPECT_EQ(info.AudioStart(), static_cast<int64_t>(front.size()));
  EXPECT_EQ(info.AudioStart() + info.AudioSize(), kSize - static_cast<int64_t>(tail.size()));
}

// Mutations of the tagged samples, concentrated on the tag areas at both ends.
TEST(Mp3InfoFuzz, MutatedSamplesStaySound) {
  const char* const kFiles[] = {"tag_id3v1_1.mp3", "tag_id3v23_bigframe.mp3", "tag_id3v23_utf16.mp3",
                                "tag_id3v23_exthdr.mp3", "tag_id3v24.mp3", "tag_id3v23_unsync.mp3",
                                "tag_lyrics3v1_id3v1.mp3", "tag_lyrics3v2_id3v1.mp3", "tag_riff_info.wav",
                                "tag_macbinary_id3v1.mp3", "tag_id3v1_sjis.mp3", "tag_id3v1_utf8.mp3"};
  std::vector<Bytes> samples;
  for (const char* file : kFiles) samples.push_back(test::ReadFile(test::DataPath(std::string("samples/") + file)));
  const char* const kMagic[] = {"ID3", "TAG", "LYRICSEND", "LYRICS200", "LYRICSBEGIN", "RIFF", "data", "LIST", "INFO", "IID3"};
  const uint8_t kValues[] = {0x00, 0xFF, 0x7F, 0x80, '0', '9', 'A', 0x01, 0xFE};

  std::mt19937 random(20240607);
  const auto below = [&](size_t n) { return n == 0 ? size_t{0} : static_cast<size_t>(random() % n); };
  for (int iteration = 0; iteration < 3000; ++iteration) {
    const size_t which = below(std::size(kFiles));
    Bytes bytes = samples[which];
    const auto place = [&]() -> size_t {
      const size_t area = std::min<size_t>(bytes.size(), 1200);
      return below(3) == 0 ? below(bytes.size()) : below(2) == 0 ? below(area) : bytes.size() - 1 - below(area);
    };
    const int mutations = 1 + static_cast<int>(below(6));
    for (int m = 0; m < mutations && !bytes.empty(); ++m) {
      switch (below(5)) {
        case 0: bytes[place()] = static_cast<uint8_t>(random()); break;
        case 1: bytes[place()] = kValues[below(std::size(kValues))]; break;
        case 2: {
          const size_t at = place();
          const uint32_t v = below(2) ? static_cast<uint32_t>(random()) : 0x7FFFFFF0u + static_cast<uint32_t>(below(32));
          for (size_t i = 0; i < 4 && at + i < bytes.size(); ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
          break;
        }
        case 3: {
          const std::string_view magic = kMagic[below(std::size(kMagic))];
          const size_t at = place();
          for (size_t i = 0; i < magic.size() && at + i < bytes.size(); ++i) bytes[at + i] = static_cast<uint8_t>(magic[i]);
          break;
        }
        case 4: bytes.resize(bytes.size() - below(std::min<size_t>(bytes.size(), 400))); break;
      }
    }
    SCOPED_TRACE(std::string(kFiles[which]) + ", iteration " + std::to_string(iteration));
    const int32_t capacity = iteration % 5 == 0 ? 4096 : kCapacity;
    Check(bytes, capacity);
    if (HasFailure()) break;
  }
}

}  // namespace
}  // namespace plumo
