#include <gtest/gtest.h>

#include <vector>

#include "bit_reader.h"
#include "decoder.h"
#include "decoder_context.h"

namespace plumo {
namespace {

FrameHeader Header(uint8_t b1, uint8_t b2, uint8_t b3) {
  const uint8_t bytes[4] = {0xFF, b1, b2, b3};
  FrameHeader h;
  ParseFrameHeader(bytes, 0, h);
  if (b1 >> 4 == 0xE) h.sync_kind = 2;
  return h;
}

TEST(DecoderSetup, SubbandCountFollowsTheBandLimit) {
  Decoder d;
  const FrameHeader h = Header(0xFF, 0x90, 0xC0);  // Layer I, 44.1 kHz, mono
  ASSERT_EQ(d.Setup(h, 416, 0, 0, 0, 24000), 1);
  EXPECT_EQ(d.Context().synth_subbands, 32);  // every sub-band, the top one included
  ASSERT_EQ(d.Setup(h, 416, 0, 0, 0, 1000), 1);
  EXPECT_EQ(d.Context().synth_subbands, 1);
  ASSERT_EQ(d.Setup(h, 416, 0, 0, 0, 10), 1);  // raised to 1000 Hz
  EXPECT_EQ(d.Context().synth_subbands, 1);
}

TEST(DecoderSetup, Layer2AllocationTableChoice) {
  Decoder d;
  // 32 kHz stereo at 96 kbit/s: table with 12 sub-bands, counted twice for two channels.
  ASSERT_EQ(d.Setup(Header(0xFD, 0x68, 0x00), 288, 0, 0, 0, 24000), 1);
  EXPECT_EQ(d.Context().alloc_table, 3);
  EXPECT_EQ(d.Context().sblimit, 24);
  EXPECT_EQ(d.Context().synth_subbands, 24);
  // 48 kHz mono at 192 kbit/s: 27 sub-bands; 44.1 kHz stereo at 384 kbit/s: 30.
  ASSERT_EQ(d.Setup(Header(0xFD, 0xA4, 0xC0), 576, 0, 0, 0, 24000), 1);
  EXPECT_EQ(d.Context().sblimit, 27);
  ASSERT_EQ(d.Setup(Header(0xFD, 0xE0, 0x00), 1253, 0, 0, 0, 24000), 1);
  EXPECT_EQ(d.Context().sblimit, 60);
  EXPECT_EQ(d.Context().synth_subbands, 60);
  // The low-sampling-frequency table.
  ASSERT_EQ(d.Setup(Header(0xF5, 0x80, 0x00), 288, 0, 0, 0, 24000), 1);
  EXPECT_EQ(d.Context().alloc_table, 4);
}

TEST(DecoderSetup, RefusesStreamsTheStandardDoesNotAllow) {
  Decoder d;
  EXPECT_EQ(d.Setup(Header(0xFD, 0x10, 0x00), 104, 0, 0, 0, 24000), 0);  // stereo 32 kbit/s
  EXPECT_EQ(d.Setup(Header(0xFD, 0x50, 0x00), 261, 0, 0, 0, 24000), 0);  // stereo 80 kbit/s
  EXPECT_EQ(d.Setup(Header(0xFD, 0xB0, 0xC0), 731, 0, 0, 0, 24000), 0);  // mono 224 kbit/s
  EXPECT_EQ(d.Setup(Header(0xFD, 0xE0, 0xC0), 1253, 0, 0, 0, 24000), 0);  // mono 384 kbit/s
  EXPECT_EQ(d.Setup(Header(0xFD, 0x9C, 0x00), 0, 0, 0, 0, 24000), 0);  // reserved sampling frequency
  EXPECT_EQ(d.Setup(Header(0xF9, 0x90, 0x00), 417, 0, 0, 0, 24000), 0);  // reserved layer
  // Output the decoder has no stage for: 8-bit samples, reduced rates.
  EXPECT_EQ(d.Setup(Header(0xFD, 0x90, 0x00), 417, 0, 0, 0x08, 24000), 0);
  EXPECT_EQ(d.Setup(Header(0xFD, 0x90, 0x00), 417, 1, 0, 0, 24000), 0);
  // Nothing is decoded after a refused set-up.
  std::vector<uint8_t> frame(417, 0), pcm(8192);
  EXPECT_EQ(d.DecodeFrame(frame.data(), frame.size(), pcm.data()).consumed, 0);
}

TEST(DecoderSetup, OutputFormatByChannelChoice) {
  Decoder d;
  const FrameHeader stereo = Header(0xFD, 0x90, 0x00);  // Layer II 44.1 kHz 128 kbit/s stereo
  ASSERT_EQ(d.Setup(stereo, 417, 0, 0, kChannelsBoth, 24000), 1);
  OutputFormat f = d.GetOutputFormat();
  EXPECT_EQ(f.channels, 2);
  EXPECT_EQ(f.samples_per_frame, 2304);
  EXPECT_EQ(f.sample_rate, 44100);
  EXPECT_EQ(f.bits_per_sample, 16);
  EXPECT_EQ(f.frame_length, 417);
  EXPECT_EQ(f.reserved, 0);
  EXPECT_EQ(d.PcmBytesPerFrame(), 4608);
  for (int choice : {kChannelsMix, kChannelsLeft, kChannelsRight}) {
    ASSERT_EQ(d.Setup(stereo, 417, 0, 0, choice, 24000), 1);
    EXPECT_EQ(d.GetOutputFormat().channels, 1);
    EXPECT_EQ(d.PcmBytesPerFrame(), 2304);
  }
  // A single-channel stream ignores the choice; Layer I has 384 samples per frame.
  ASSERT_EQ(d.Setup(Header(0xFF, 0x90, 0xC0), 416, 0, 0, kChannelsRight, 24000), 1);
  EXPECT_EQ(d.GetOutputFormat().channels, 1);
  EXPECT_EQ(d.GetOutputFormat().samples_per_frame, 384);
}

TEST(DecoderSetup, Mpeg25Layer2SetsUpButEveryFrameIsRefused) {
  Decoder d;
  const uint8_t bytes[4] = {0xFF, 0xE5, 0x80, 0x00};
  FrameHeader h;
  const int length = ParseFrameHeader(bytes, 0, h);
  ASSERT_GT(length, 0);
  ASSERT_EQ(d.Setup(h, length, 0, 0, 0, 24000), 1);
  EXPECT_EQ(d.GetOutputFormat().sample_rate, 22050);
  std::vector<uint8_t> frame(static_cast<size_t>(length), 0), pcm(8192);
  std::copy(bytes, bytes + 4, frame.begin());
  const DecodeResult r = d.DecodeFrame(frame.data(), frame.size(), pcm.data());
  EXPECT_EQ(r.consumed, 0);
  EXPECT_EQ(r.produced, 0);
}

TEST(BitReader, ReadsMostSignificantBitFirst) {
  const uint8_t data[] = {0xA5, 0x3C, 0xFF, 0x01, 0x80};
  BitReader br;
  br.Start(data, sizeof data);
  EXPECT_EQ(br.ReadBits(0), 0u);
  EXPECT_EQ(br.BitPosition(), 0);
  EXPECT_EQ(br.ReadBits(1), 1u);
  EXPECT_EQ(br.ReadBits(3), 2u);
  EXPECT_EQ(br.PeekBits(8), 0x53u);
  EXPECT_EQ(br.ReadBits(12), 0x53Cu);
  EXPECT_EQ(br.BitPosition(), 16);
  br.SkipBits(9);
  EXPECT_EQ(br.ReadBits(7), 0x01u);
  EXPECT_EQ(br.ReadBits(1), 1u);
  // Past the end the reader yields zero bits and never reads outside the buffer.
  EXPECT_EQ(br.ReadBits(24), 0u);
  EXPECT_EQ(br.ReadEscapeBits(13), 0u);
}

TEST(BitReader, LongSkipJumpsWholeBytes) {
  std::vector<uint8_t> data(64);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  BitReader br;
  br.Start(data.data(), data.size());
  br.ReadBits(4);
  br.SkipBits(8 * 20 + 4);  // to the start of byte 21
  EXPECT_EQ(br.BitPosition(), 8 * 21);
  EXPECT_EQ(br.ReadBits(8), 21u);
  br.SkipBits(8 * 100);  // beyond the end: positions still count, reads give zeros
  EXPECT_EQ(br.ReadBits(16), 0u);
}

}  // namespace
}  // namespace plumo
