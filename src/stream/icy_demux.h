// TIcyDemux: separates the audio of an ICY (SHOUTcast/Icecast) stream from the metadata blocks the
// server inserts every icy-metaint audio bytes, and reads each block's StreamTitle. A block is one
// length byte (times 16 bytes) and that many bytes of text such as "StreamTitle='...';", padded
// with NULs. Pure and incremental: the raw bytes may arrive cut anywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace plumo {

class TIcyDemux {
 public:
  // The largest interval taken from a response; anything larger (or not a number) means no
  // metadata, as does 0.
  static constexpr int64_t kMaxMetaInt = 1 << 24;

  // metaInt: audio bytes between two metadata blocks; 0: the bytes are all audio.
  explicit TIcyDemux(int64_t metaInt = 0) : FMetaInt(metaInt > 0 && metaInt <= kMaxMetaInt ? metaInt : 0) {}

  struct TStep {
    size_t Consumed = 0;  // raw bytes taken from the input
    size_t Audio = 0;     // audio bytes written to the output
    bool Title = false;   // a block with a StreamTitle ended here; Title() holds it
  };
  // Takes raw bytes from in and writes their audio to out. Stops when the input is used up, the
  // output is full, or right after a block that names a title (so that the audio before it can
  // be delivered before the title changes).
  TStep Feed(std::span<const uint8_t> in, std::span<uint8_t> out);

  // The StreamTitle of the last block that had one (UTF-8).
  const std::string& Title() const { return FTitle; }
  int64_t MetaInt() const { return FMetaInt; }

 private:
  bool EndBlock();

  int64_t FMetaInt;
  int64_t FAudioLeft = -1;  // audio bytes before the next block; -1: not started
  int32_t FBlockLeft = -1;  // block bytes still to come; -1: the length byte is next
  std::string FBlock;
  std::string FTitle;
};

// The response's icy-metaint as an interval: 0 when absent, malformed or out of range.
int64_t ParseIcyMetaInt(std::string_view value);

// Header or metadata text as UTF-8 by the tags' 8-bit rule (UTF-8, else CP932 when plausibly
// Japanese, else Windows-1252); control characters and direction marks and overrides are dropped
// and surrounding spaces trimmed.
std::string IcyText(std::string_view bytes);

}  // namespace plumo
