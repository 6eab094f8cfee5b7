// TMP3Info on hand-built APEv2 tags and embedded pictures: where the tag may lie, what it adds to
// the title choice, damaged sizes, and which picture is the cover.
#include <gtest/gtest.h>

#include <algorithm>

#include "tag_builder.h"

namespace plumo {
namespace {

using test::Append;
using test::AppendLe32;
using test::Audio;
using test::Bytes;
using test::TExamination;
using test::operator+;

Bytes ApeItem(std::string_view key, const Bytes& value, uint32_t flags = 0) {
  Bytes out;
  AppendLe32(out, static_cast<uint32_t>(value.size()));
  AppendLe32(out, flags);
  Append(out, key);
  out.push_back(0);
  Append(out, value);
  return out;
}

Bytes Text(std::string_view s) { return Bytes(s.begin(), s.end()); }

// An APEv2 tag (version 2000) or APE tag (1000) around items; count and size as stored unless given.
Bytes ApeTag(const Bytes& items, uint32_t version, bool header, uint32_t count, int64_t size = -1) {
  const auto part = [&](bool isHeader) {
    Bytes out;
    Append(out, "APETAGEX");
    AppendLe32(out, version);
    AppendLe32(out, size >= 0 ? static_cast<uint32_t>(size) : static_cast<uint32_t>(items.size() + 32));
    AppendLe32(out, count);
    AppendLe32(out, (header ? 0x80000000u : 0) | (isHeader ? 0x20000000u : 0));
    out.resize(out.size() + 8, 0);
    return out;
  };
  Bytes out = header ? part(true) : Bytes{};
  Append(out, items);
  Append(out, part(false));
  return out;
}

const Bytes kItems = ApeItem("Title", Text("Ape Title, longer than ID3v1")) + ApeItem("ARTIST", Text("Ape Artist")) +
                     ApeItem("Album", Bytes{'O', 'n', 'e', 0, 'T', 'w', 'o'});

TEST(Mp3InfoApe, FoundWhereverWritersPutItAndOutsideTheAudio) {
  const Bytes lyrics = test::Lyrics3v2({{"IND", "00"}, {"ETT", "Lyrics title"}});
  const Bytes id3v1 = test::Id3v1("V1 title");
  struct {
    const char* name;
    Bytes tag;
    Bytes after;   // what follows the APE tag
    Bytes before;  // what lies between the audio and the APE tag
  } cases[] = {
      {"version 2 with header, at the end", ApeTag(kItems, 2000, true, 3), {}, {}},
      {"version 2 without header, before ID3v1", ApeTag(kItems, 2000, false, 3), id3v1, {}},
      {"version 1, before ID3v1", ApeTag(kItems, 1000, false, 3), id3v1, {}},
      {"after Lyrics3, before ID3v1", ApeTag(kItems, 2000, true, 3), id3v1, lyrics},
      {"before Lyrics3 and ID3v1", ApeTag(kItems, 2000, true, 3), lyrics + id3v1, {}},
      {"at the end, after ID3v1", ApeTag(kItems, 2000, true, 3), {}, id3v1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes file = Audio(3000);
    Append(file, c.before);
    Append(file, c.tag);
    Append(file, c.after);
    TExamination exam(file, true);
    EXPECT_TRUE(exam.Info.Found().Contains(mitApe));
    EXPECT_EQ(exam.Info.AudioStart(), 0);
    EXPECT_EQ(exam.Info.AudioSize(), 3000);
    EXPECT_EQ(exam.Info.Title(), "Ape Title, longer than ID3v1");
    EXPECT_EQ(exam.Info.Artist(), "Ape Artist");
    EXPECT_EQ(exam.Info.Album(), "One / Two");
    const auto holds = [&](std::string_view magic) {
      const Bytes around = c.before + c.after;
      return std::search(around.begin(), around.end(), magic.begin(), magic.end()) != around.end();
    };
    EXPECT_EQ(exam.Info.Found().Contains(mitLyrics), holds("LYRICSBEGIN"));
    EXPECT_EQ(exam.Info.Found().Contains(mitID3V1), holds("TAGV1 title"));
  }
}

TEST(Mp3InfoApe, DamagedSizesAndCountsStayWithinTheTag) {
  const Bytes item = ApeItem("Title", Text("Kept"));
  Bytes huge = ApeItem("Title", Text("Kept"));
  Append(huge, Bytes{0xF0, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0, 'X', 0});  // a value larger than the tag
  struct {
    const char* name;
    Bytes tag;
    bool found;
    const char* title;
  } cases[] = {
      {"count beyond the items", ApeTag(item, 2000, false, 0xFFFFFFFF), true, "Kept"},
      {"value size beyond the tag", ApeTag(huge, 2000, false, 2), true, "Kept"},
      {"tag size beyond the file", ApeTag(item, 2000, false, 1, 0x7FFFFFFF), false, "fallback name.mp3"},
      {"tag size below the footer", ApeTag(item, 2000, false, 1, 8), false, "fallback name.mp3"},
      {"unknown version", ApeTag(item, 3000, false, 1), false, "fallback name.mp3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes file = Audio(3000);
    Append(file, c.tag);
    TExamination exam(file, true);
    EXPECT_EQ(exam.Info.Found().Contains(mitApe), c.found);
    EXPECT_EQ(exam.Info.Title(), c.title);
    EXPECT_EQ(exam.Info.AudioSize(), c.found ? 3000 : static_cast<int64_t>(file.size()));
  }
}

const Bytes kJpeg = {0xFF, 0xD8, 0xFF, 0xE0, 1, 2, 3, 4};
const Bytes kPng = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 9, 9};

Bytes Apic(uint8_t encoding, std::string_view mime, uint8_t type, const Bytes& description, const Bytes& data) {
  Bytes body{encoding};
  Append(body, mime);
  body.push_back(0);
  body.push_back(type);
  Append(body, description);
  Append(body, data);
  return test::Frame("APIC", body);
}

TEST(Mp3InfoPicture, TheFrontCoverElseTheFirstPicture) {
  Bytes big(200000, 0x55);
  std::copy(kJpeg.begin(), kJpeg.end(), big.begin());
  Bytes pic22{0};
  Append(pic22, "PNG");
  pic22.push_back(3);
  Append(pic22, Bytes{'d', 0});
  Append(pic22, kPng);
  struct {
    const char* name;
    Bytes file;
    Bytes expected;
    uint8_t type;
  } cases[] = {
      {"front cover after another picture",
       test::Id3v2(Apic(0, "image/png", 4, {'b', 'a', 'c', 'k', 0}, kPng) + Apic(1, "image/jpeg", 3, {0xFF, 0xFE, 'f', 0, 0, 0}, kJpeg)) + Audio(3000),
       kJpeg, 3},
      {"no front cover: the first", test::Id3v2(Apic(3, "image/png", 0, {0}, kPng) + Apic(0, "image/jpeg", 5, {0}, kJpeg)) + Audio(3000), kPng, 0},
      {"larger than the reader's buffer", test::Id3v2(Apic(0, "image/jpeg", 3, {0}, big)) + Audio(3000), big, 3},
      {"version 2.2 PIC", test::Id3v2(test::Frame22("PIC", pic22), 0, 2) + Audio(3000), kPng, 3},
      {"APEv2 Cover Art (Front)", Audio(3000) + ApeTag(ApeItem("Cover Art (Front)", Bytes{'c', '.', 'j', 'p', 'g', 0} + kJpeg, 2), 2000, true, 1), kJpeg, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TExamination exam(c.file, true);
    EXPECT_EQ(exam.Info.Picture().Data, c.expected);
    EXPECT_EQ(exam.Info.Picture().Type, c.type);
    EXPECT_EQ(exam.Info.AudioSize(), 3000);
  }
}

}  // namespace
}  // namespace plumo
