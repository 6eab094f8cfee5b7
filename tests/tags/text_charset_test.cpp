// The 8-bit text rule on real-world titles and names: Western text in Windows-1252, Japanese in
// Shift-JIS (CP932), UTF-8 and ASCII must each come out as written, alone and within one tag.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "tag_builder.h"
#include "text_conversion.h"

namespace plumo {
namespace {

using test::Append;
using test::Bytes;
using test::operator+;

// UTF-8 text encoded the way an old tagger stored it.
std::string Encode(const std::string& utf8, const char* charset) {
  const iconv_t cd = iconv_open(charset, "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << charset;
  std::string out(utf8.size() * 2 + 8, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* dst = out.data();
  size_t outLeft = out.size();
  EXPECT_NE(iconv(cd, &in, &inLeft, &dst, &outLeft), static_cast<size_t>(-1)) << utf8;
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

struct TSample {
  const char* Text;
  const char* Charset;
};

// Titles, names and albums as they appear in collections.
const TSample kSamples[] = {
    // German
    {"Über Straße", "WINDOWS-1252"},
    {"Mädchen aus Ostberlin", "WINDOWS-1252"},
    {"Für Elise", "WINDOWS-1252"},
    {"Schön ist die Jugend", "WINDOWS-1252"},
    // French
    {"Sébastien Tellier", "WINDOWS-1252"},
    {"Françoise Hardy", "WINDOWS-1252"},
    {"Les élèves", "WINDOWS-1252"},
    {"Hélène", "WINDOWS-1252"},
    {"Édith Piaf", "WINDOWS-1252"},
    {"Noël à Paris", "WINDOWS-1252"},
    {"Château Œuvre", "WINDOWS-1252"},
    {"ÉTÉ", "WINDOWS-1252"},
    // Spanish
    {"Corazón Espinado", "WINDOWS-1252"},
    {"Canción de cuna", "WINDOWS-1252"},
    {"¿Qué será?", "WINDOWS-1252"},
    {"Música Ligera", "WINDOWS-1252"},
    {"Ángel", "WINDOWS-1252"},
    // Nordic and Icelandic
    {"Björk", "WINDOWS-1252"},
    {"Sigur Rós", "WINDOWS-1252"},
    {"Ágætis byrjun", "WINDOWS-1252"},
    {"Hoppípolla", "WINDOWS-1252"},
    {"Þórarinn Guðmundsson", "WINDOWS-1252"},
    {"Håkan Hellström", "WINDOWS-1252"},
    {"Kärlekens tunga", "WINDOWS-1252"},
    {"Tromsø", "WINDOWS-1252"},
    {"Blåbærsyltetøj", "WINDOWS-1252"},
    // Portuguese
    {"São Paulo", "WINDOWS-1252"},
    {"João Gilberto", "WINDOWS-1252"},
    {"Coração Vagabundo", "WINDOWS-1252"},
    {"Águas de Março", "WINDOWS-1252"},
    {"João ©1958", "WINDOWS-1252"},
    // Typography of English titles
    {"Don’t Stop Me Now", "WINDOWS-1252"},
    {"Rock’n’Roll – Live…", "WINDOWS-1252"},
    {"Yo soy él", "WINDOWS-1252"},
    {"Ett år", "WINDOWS-1252"},
    // Japanese: kanji, hiragana, katakana (テ is 83 65, ス 83 58, ソ 83 5C, ポ 83 7C)
    {"テスト", "CP932"},
    {"ソフトクリーム", "CP932"},
    {"ポップス", "CP932"},
    {"表示", "CP932"},  // 95 5C: a backslash as second byte
    {"天体観測", "CP932"},
    {"東京事変", "CP932"},
    {"ありがとう", "CP932"},
    {"宇多田ヒカル", "CP932"},
    {"愛", "CP932"},
    {"絆", "CP932"},  // E3 4A: "ãJ" in Windows-1252
    {"颯", "CP932"},  // E9 44
    // half-width katakana only
    {"ｶﾞﾝﾀﾞﾑ", "CP932"},
    {"ﾃｽﾄ", "CP932"},
    {"ﾊﾅ", "CP932"},
    // mixed Latin and Japanese
    {"完全感覚Dreamer", "CP932"},
    {"Mr.Children - 名もなき詩", "CP932"},
    {"L'Arc～en～Ciel", "CP932"},
    {"ドラゴンボールZ", "CP932"},
    {"B'z ベスト", "CP932"},
    // UTF-8 and ASCII
    {"Grüße aus Köln", "UTF-8"},
    {"日本語アルバム", "UTF-8"},
    {"Hello World", "UTF-8"},
    {"AC/DC - Back In Black", "UTF-8"},
};

TEST(TextCharset, EveryRealWorldSampleComesOutAsWritten) {
  EXPECT_GE(std::size(kSamples), 30u);
  for (const TSample& s : kSamples) {
    const std::string bytes = Encode(s.Text, s.Charset);
    EXPECT_EQ(AnsiToUtf8(bytes), s.Text) << s.Charset;
  }
}

TEST(TextCharset, TheKeyBytesAsStored) {
  EXPECT_EQ(AnsiToUtf8("\x83\x65\x83\x58\x83\x67"), "テスト");  // second bytes 'e', 'X', 'g'
  EXPECT_EQ(AnsiToUtf8("\x83\x5C\x83\x74\x83\x67"), "ソフト");  // a backslash
  EXPECT_EQ(AnsiToUtf8("\xB6\xDE\xDD\xC0\xDE\xD1"), "ｶﾞﾝﾀﾞﾑ");
  EXPECT_EQ(AnsiToUtf8("S\xE9" "bastien"), "Sébastien");     // E9 62 would be a kanji between letters
  EXPECT_EQ(AnsiToUtf8("Bj\xF6rk"), "Björk");                 // F6 72 would be private use
  EXPECT_EQ(AnsiToUtf8("\xDC" "ber Stra\xDF" "e"), "Über Straße");  // half-width katakana, but few
}

// The fields of one tag decide together; each tag kind decides on its own.
TEST(TextCharset, OneDecisionPerTag) {
  const std::string best = Encode("ベスト", "CP932");
  const std::string seb = Encode("Sébastien", "WINDOWS-1252");
  const std::string joao = Encode("João", "WINDOWS-1252");
  const std::string_view western[] = {best, seb};
  EXPECT_EQ(EightBitCharset(western), TEightBitCharset::Windows1252);  // "S" + kanji + "astien"
  const std::string_view japanese[] = {best, joao};
  EXPECT_EQ(EightBitCharset(japanese), TEightBitCharset::Cp932);  // the kana decide
  const std::string_view ascii[] = {"plain", "text"};
  EXPECT_EQ(EightBitCharset(ascii), TEightBitCharset::Utf8);
  const std::string_view utf8AndWestern[] = {"K\xC3\xB6ln", seb};
  EXPECT_EQ(EightBitCharset(utf8AndWestern), TEightBitCharset::Windows1252);
  // Under Windows-1252 a field that is valid UTF-8 stays as it is.
  EXPECT_EQ(EightBitToUtf8("K\xC3\xB6ln", TEightBitCharset::Windows1252), "Köln");

  // One file: the ID3v2 tag is Japanese beside a binary PRIV frame (not text, so not counted);
  // the ID3v1 tag holds a Western name, and its album bytes follow that tag's decision.
  Bytes front = test::Id3v2(test::TextFrame("TIT2", Encode("A面", "CP932")) + test::TextFrame("TALB", best) +
                            test::Frame("PRIV", Bytes{'W', 'M', 0, 0xFF, 0x81, 0x20, 0xF0}));
  Append(front, test::Audio(2000));
  test::TExamination exam(front + test::Id3v1(seb, "", best), true);
  EXPECT_EQ(TMP3Info::Value(exam.Info.Id3v2(), "TIT2"), "A面");
  EXPECT_EQ(TMP3Info::Value(exam.Info.Id3v2(), "TALB"), "ベスト");
  EXPECT_EQ(TMP3Info::Value(exam.Info.Id3v1(), "TITLE"), "Sébastien");
  EXPECT_EQ(TMP3Info::Value(exam.Info.Id3v1(), "ALBUM"), "\u0192x\u0192X\u0192g");
}

}  // namespace
}  // namespace plumo

TEST(TerminalText, ControlCharactersBecomeReplacementCharacters) {
  EXPECT_EQ(plumo::TerminalText("Bell\a \x1B[31mred\nline\x7F\xC2\x85 caf\xC3\xA9 \xC2\xA0"),
            "Bell\uFFFD \uFFFD[31mred\uFFFDline\uFFFD\uFFFD caf\xC3\xA9 \xC2\xA0");
}
