// Builds tagged files byte by byte, and examines bytes with TMP3Info the way the player does.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "memory_stream.h"
#include "mp3_info.h"
#include "non_seekable_stream.h"
#include "stream_reader.h"

namespace plumo::test {

using Bytes = std::vector<uint8_t>;

inline void Append(Bytes& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }
inline void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }
inline void AppendBe32(Bytes& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}
inline void AppendLe32(Bytes& out, uint32_t v) {
  for (int shift = 0; shift <= 24; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
}
inline Bytes operator+(Bytes a, const Bytes& b) {
  Append(a, b);
  return a;
}
inline void PutBe32(Bytes& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// Stand-in for MPEG audio: bytes that hold no tag magic.
inline Bytes Audio(size_t size) {
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(i % 199 + 1);
  return out;
}

// An ID3v2.3 frame: id, BE32 size, two flag bytes, body.
inline Bytes Frame(std::string_view id, const Bytes& body) {
  Bytes out;
  Append(out, id);
  AppendBe32(out, static_cast<uint32_t>(body.size()));
  out.push_back(0);
  out.push_back(0);
  Append(out, body);
  return out;
}

// An ID3v2.4 frame: id, sync-safe size, status flags, format flags, body.
inline Bytes Frame24(std::string_view id, const Bytes& body, uint8_t format = 0) {
  Bytes out;
  Append(out, id);
  const uint32_t size = static_cast<uint32_t>(body.size());
  for (int shift = 21; shift >= 0; shift -= 7) out.push_back(static_cast<uint8_t>((size >> shift) & 0x7F));
  out.push_back(0);
  out.push_back(format);
  Append(out, body);
  return out;
}

// An ID3v2.2 frame: three-letter id, BE24 size, body.
inline Bytes Frame22(std::string_view id, const Bytes& body) {
  Bytes out;
  Append(out, id);
  for (int shift = 16; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(body.size() >> shift));
  Append(out, body);
  return out;
}

// A frame body: encoding byte, then text.
inline Bytes Body(uint8_t encoding, std::string_view text) {
  Bytes out{encoding};
  Append(out, text);
  return out;
}

// Unsynchronisation: a zero byte after every 0xFF that is followed by a byte of 0xE0 or more, or
// by a zero byte, or that ends the data.
inline Bytes Unsynchronised(const Bytes& in) {
  Bytes out;
  for (size_t i = 0; i < in.size(); ++i) {
    out.push_back(in[i]);
    if (in[i] == 0xFF && (i + 1 == in.size() || in[i + 1] >= 0xE0 || in[i + 1] == 0)) out.push_back(0);
  }
  return out;
}

// A text frame with encoding byte 0.
inline Bytes TextFrame(std::string_view id, std::string_view text) {
  Bytes body{0};
  Append(body, text);
  return Frame(id, body);
}

// An ID3v2 tag around frames and padding; the size bytes hold seven bits each.
inline Bytes Id3v2(const Bytes& frames, size_t padding = 0, uint8_t version = 3, uint8_t flags = 0) {
  Bytes out{'I', 'D', '3', version, 0, flags};
  const uint32_t size = static_cast<uint32_t>(frames.size() + padding);
  for (int shift = 21; shift >= 0; shift -= 7) out.push_back(static_cast<uint8_t>((size >> shift) & 0x7F));
  Append(out, frames);
  out.resize(out.size() + padding, 0);
  return out;
}

// A 128-byte ID3v1 tag.
inline Bytes Id3v1(std::string_view title, std::string_view artist = "", std::string_view album = "",
                   uint8_t genre = 12, int track = -1) {
  Bytes out(128, 0);
  const auto put = [&](size_t at, std::string_view text, size_t n) {
    for (size_t i = 0; i < text.size() && i < n; ++i) out[at + i] = static_cast<uint8_t>(text[i]);
  };
  put(0, "TAG", 3);
  put(3, title, 30);
  put(33, artist, 30);
  put(63, album, 30);
  put(93, "2001", 4);
  if (track >= 0) {
    out[125] = 0;
    out[126] = static_cast<uint8_t>(track);
  } else {
    out[125] = 'x';
  }
  out[127] = genre;
  return out;
}

// A Lyrics3 version 2 block from (id, value) fields.
inline Bytes Lyrics3v2(const std::vector<std::pair<std::string, std::string>>& fields) {
  Bytes out;
  Append(out, "LYRICSBEGIN");
  for (const auto& [id, value] : fields) {
    Append(out, id);
    char length[6];
    std::snprintf(length, sizeof length, "%05zu", value.size());
    Append(out, length);
    Append(out, value);
  }
  char size[7];
  std::snprintf(size, sizeof size, "%06zu", out.size());
  Append(out, size);
  Append(out, "LYRICS200");
  return out;
}

inline Bytes Chunk(std::string_view id, const Bytes& body) {
  Bytes out;
  Append(out, id);
  AppendLe32(out, static_cast<uint32_t>(body.size()));
  Append(out, body);
  if (body.size() & 1) out.push_back(0);
  return out;
}

// Counts read calls and refuses to hand out more than it holds.
class TCountingStream final : public TStream {
 public:
  explicit TCountingStream(TStream& inner) : FInner(inner) {}
  int32_t Read(void* buffer, int32_t count) override {
    ++Reads;
    return FInner.Read(buffer, count);
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override { return FInner.Seek(offset, origin); }
  int64_t Size() override { return FInner.Size(); }
  int Reads = 0;

 private:
  TStream& FInner;
};

// Runs the player's examination: front, then (seekable) end, counting reads.
struct TExamination {
  TExamination(Bytes bytes, bool seekable, int32_t capacity = 65536, int32_t maxRead = 0)
      : Memory(std::move(bytes)), Pipe(Memory, maxRead), Counter(seekable ? static_cast<TStream&>(Memory) : Pipe),
        Reader(capacity) {
    Reader.Attach(&Counter, seekable);
    Info.SetReader(&Reader);
    Info.SetFileName("/music/fallback name.mp3");
    Front = Info.ReadFront();
    PositionAfterFront = Reader.Position();
    End = Info.ReadEnd();
  }
  int64_t Size() const { return static_cast<int64_t>(Memory.Bytes().size()); }

  TMemoryStream Memory;
  TNonSeekableStream Pipe;
  TCountingStream Counter;
  TMPStreamReader Reader;
  TMP3Info Info;
  bool Front = false;
  bool End = false;
  int64_t PositionAfterFront = 0;
};

}  // namespace plumo::test
