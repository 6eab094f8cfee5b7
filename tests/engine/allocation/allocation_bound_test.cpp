// Sizes claimed by a file never become allocations: tags, chunks and frames that say they are
// 2 GiB long are skipped or refused, and opening such files allocates no more than the reader's
// ring and the decoder's own state.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "allocation_watch.h"
#include "memory_stream.h"
#include "mp3_source.h"
#include "test_files.h"

namespace plumo {
namespace {

void PutBigEndian(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
void PutLittleEndian(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> Audio() { return test::ReadFile(test::DataPath("samples/l3_m1_44k_128_joint_noinfo.mp3")); }

// Files whose headers claim 2 GiB (or the largest size their field holds).
std::vector<std::vector<uint8_t>> LyingFiles() {
  std::vector<std::vector<uint8_t>> files;
  const std::vector<uint8_t> audio = Audio();
  {  // An ID3v2.3 tag holding one frame that claims 2 GiB.
    std::vector<uint8_t> f = {'I', 'D', '3', 3, 0, 0, 0, 0, 1, 0x52, 'T', 'I', 'T', '2', 0, 0, 0, 0, 0, 0};  // 210
    PutBigEndian(f, 14, 0x80000000u);
    f.resize(20 + 200, 0);
    f.insert(f.end(), audio.begin(), audio.end());
    files.push_back(f);
  }
  {  // The largest ID3v2 tag size (256 MiB) with its syncsafe bits, and a frame of 0xFFFFFFFF.
    std::vector<uint8_t> f = {'I', 'D', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F, 'C', 'O', 'M', 'M', 0, 0, 0, 0, 0, 0};
    PutBigEndian(f, 14, 0xFFFFFFFFu);
    f.insert(f.end(), audio.begin(), audio.end());
    files.push_back(f);
  }
  {  // A RIFF file whose data chunk and LIST chunk claim 2 GiB.
    std::vector<uint8_t> f = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'L', 'I', 'S', 'T', 0, 0, 0, 0,
                              'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 0, 0, 0, 0, 'd', 'a', 't', 'a', 0, 0, 0, 0};
    PutLittleEndian(f, 4, 0xFFFFFFF0u);
    PutLittleEndian(f, 16, 0x80000000u);
    PutLittleEndian(f, 28, 0x80000000u);
    PutLittleEndian(f, 36, 0x80000000u);
    f.insert(f.end(), audio.begin(), audio.end());
    files.push_back(f);
  }
  {  // Lyrics3 v2 with a size field of 999999 before an ID3v1 tag.
    std::vector<uint8_t> f = audio;
    const std::string lyrics = "LYRICSBEGININD00002" "10" "999999LYRICS200";
    f.insert(f.end(), lyrics.begin(), lyrics.end());
    std::vector<uint8_t> tag(128, ' ');
    tag[0] = 'T', tag[1] = 'A', tag[2] = 'G';
    f.insert(f.end(), tag.begin(), tag.end());
    files.push_back(f);
  }
  {  // A MacBinary header whose forks claim 2 GiB each.
    std::vector<uint8_t> f(128, 0);
    f[1] = 8;
    const std::string name = "song.mp3";
    std::copy(name.begin(), name.end(), f.begin() + 2);
    std::copy_n("MPG3", 4, f.begin() + 65);
    PutBigEndian(f, 83, 0x80000000u);
    PutBigEndian(f, 87, 0x80000000u);
    f.insert(f.end(), audio.begin(), audio.end());
    files.push_back(f);
  }
  return files;
}

TEST(AllocationBound, ClaimedSizesNeverBecomeAllocations) {
  int opened = 0;
  for (const std::vector<uint8_t>& bytes : LyingFiles()) {
    TMemoryStream stream(bytes);
    Decoder decoder;
    TMP3Source source(decoder);
    std::optional<test::TAllocationWatch> watch(std::in_place);
    try {
      source.Open(&stream, true);
      std::vector<uint8_t> pcm(static_cast<size_t>(source.BytesPerFrame()));
      while (!source.AtEndOfData()) source.ProduceFrame(pcm.data());
      ++opened;
    } catch (const EUnknownFormat&) {
    }
    const size_t largest = watch->Largest();
    watch.reset();
    // The reader's ring (64 KiB) is the largest buffer a stream needs.
    EXPECT_LE(largest, size_t{TMP3Source::kReaderCapacity}) << "file " << opened;
  }
  EXPECT_GE(opened, 3);  // the rest are refused, which is as good
}

}  // namespace
}  // namespace plumo
