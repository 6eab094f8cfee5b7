// TMPStreamReader: ring layouts, fills, skips and seeks, checked byte by byte against a pattern.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "assertion.h"
#include "memory_stream.h"
#include "non_seekable_stream.h"
#include "stream_reader.h"

namespace plumo {
namespace {

// Byte at stream offset i (period 251, so that every ring layout sees different bytes).
uint8_t PatternByte(int64_t i) { return static_cast<uint8_t>((i * 7 + 3) % 251); }

std::vector<uint8_t> Pattern(int64_t size) {
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  for (int64_t i = 0; i < size; ++i) bytes[static_cast<size_t>(i)] = PatternByte(i);
  return bytes;
}

// Records the size of every read request.
class TRecordingStream final : public TStream {
 public:
  explicit TRecordingStream(TStream& inner) : FInner(inner) {}
  int32_t Read(void* buffer, int32_t count) override {
    Requests.push_back(count);
    return FInner.Read(buffer, count);
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override { return FInner.Seek(offset, origin); }
  int64_t Size() override { return FInner.Size(); }
  std::vector<int32_t> Requests;

 private:
  TStream& FInner;
};

// The n bytes at Data() are the pattern from the reader's Position.
::testing::AssertionResult HoldsPattern(const TMPStreamReader& reader, int32_t n) {
  if (reader.Contiguous() < n) return ::testing::AssertionFailure() << reader.Contiguous() << " contiguous, need " << n;
  for (int32_t i = 0; i < n; ++i)
    if (reader.Data()[i] != PatternByte(reader.Position() + i))
      return ::testing::AssertionFailure() << "byte " << i << " after " << reader.Position() << " differs";
  return ::testing::AssertionSuccess();
}

// Reads one byte per request and places `buffered` bytes at ring index `head`.
struct TArranged {
  TArranged(int32_t capacity, int32_t head, int32_t buffered) : Memory(Pattern(300)), Pipe(Memory, 1), Reader(capacity) {
    Reader.Attach(&Pipe, false);
    EXPECT_TRUE(Reader.Fill(head) && Reader.Skip(head) && Reader.Fill(buffered));
    EXPECT_EQ(Reader.Head(), head);
    EXPECT_EQ(Reader.Buffered(), buffered);
  }
  TMemoryStream Memory;
  TNonSeekableStream Pipe;
  TMPStreamReader Reader;
};

TEST(StreamReader, BrokenPreconditionsRaiseAssertionsNamingTheUnit) {
  try {
    TMPStreamReader bad(0);
    FAIL();
  } catch (const EAssertionFailed& e) {
    EXPECT_NE(std::string(e.what()).find("MP3Plyr"), std::string::npos);
  }
  TMPStreamReader reader(64);
  EXPECT_THROW(reader.Fill(1), EAssertionFailed);  // not attached
  EXPECT_THROW(reader.Attach(nullptr, true), EAssertionFailed);
  TMemoryStream memory(Pattern(100));
  reader.Attach(&memory, false);
  EXPECT_THROW(reader.Fill(65), EAssertionFailed);
  EXPECT_THROW(reader.Skip(-1), EAssertionFailed);
  EXPECT_THROW(reader.Seek(0, soBeginning), EAssertionFailed);  // not seekable
}

TEST(StreamReader, CompactKeepsEveryByteInAllThreeLayouts) {
  constexpr int32_t kCapacity = 23;
  int layouts[3] = {};
  for (int32_t head = 0; head < kCapacity; ++head) {
    for (int32_t buffered = 0; buffered <= kCapacity; ++buffered) {
      SCOPED_TRACE("head " + std::to_string(head) + ", buffered " + std::to_string(buffered));
      TArranged a(kCapacity, head, buffered);
      const int32_t wrap = head + buffered - kCapacity;
      ++layouts[wrap <= 0 ? 0 : head > buffered ? 1 : 2];
      a.Reader.Compact();
      EXPECT_EQ(a.Reader.Head(), 0);
      EXPECT_EQ(a.Reader.Position(), head);
      EXPECT_TRUE(HoldsPattern(a.Reader, buffered));
    }
  }
  EXPECT_TRUE(layouts[0] > 0 && layouts[1] > 0 && layouts[2] > 0);
}

TEST(StreamReader, EnsureWholeCapacityFromEveryHeadPosition) {
  constexpr int32_t kCapacity = 29;
  for (int32_t head = 0; head < kCapacity; ++head) {
    for (const int32_t buffered : {0, 1, head % 11, kCapacity - 1}) {
      SCOPED_TRACE("head " + std::to_string(head) + ", buffered " + std::to_string(buffered));
      TArranged a(kCapacity, head, buffered);
      ASSERT_TRUE(a.Reader.Ensure(kCapacity));
      EXPECT_TRUE(HoldsPattern(a.Reader, kCapacity));
    }
  }
}

// After a skip within the buffered bytes, Contiguous counts from the new head: never beyond the
// ring's end, never more than is buffered.
TEST(StreamReader, ContiguousFollowsSkips) {
  for (const bool seekable : {true, false}) {
    SCOPED_TRACE(seekable);
    TArranged a(64, 40, 20);  // bytes at ring indexes 40 to 59
    if (seekable) {
      a.Memory.Seek(0, soBeginning);
      a.Reader.Attach(&a.Memory, true);
      ASSERT_TRUE(a.Reader.Fill(64) && a.Reader.Skip(50) && a.Reader.Fill(60));  // head 50, wrapped
    }
    for (int step = 0; step < 12; ++step) {
      ASSERT_TRUE(a.Reader.Skip(1));
      EXPECT_LE(a.Reader.Contiguous(), a.Reader.Buffered());
      EXPECT_LE(a.Reader.Head() + a.Reader.Contiguous(), a.Reader.Capacity());
      EXPECT_TRUE(HoldsPattern(a.Reader, a.Reader.Contiguous()));
    }
  }
}

TEST(StreamReader, ReadsAreLargeNeverWrapAndStopWhenTheRingIsFull) {
  TMemoryStream memory(Pattern(200000));
  TRecordingStream recording(memory);
  TMPStreamReader reader(65536);
  reader.Attach(&recording, true);
  ASSERT_TRUE(reader.Fill(10));
  ASSERT_TRUE(reader.Fill(40000));  // 16 KiB or more missing: one request
  ASSERT_TRUE(reader.Skip(40000));  // head at 40000, ring empty
  ASSERT_TRUE(reader.Fill(30000));  // the first request stops at the ring's end, the next is 16 KiB
  EXPECT_EQ(recording.Requests, (std::vector<int32_t>{16384, 40000 - 16384, 65536 - 40000, 16384}));
  EXPECT_TRUE(HoldsPattern(reader, reader.Contiguous()));

  ASSERT_TRUE(reader.ReadAhead());
  EXPECT_EQ(reader.Buffered(), 25536 + 2 * 16384);
  while (reader.ReadAhead()) {
  }
  const size_t reads = recording.Requests.size();
  EXPECT_EQ(reader.Buffered(), 65536);
  EXPECT_FALSE(reader.ReadAhead());
  EXPECT_EQ(recording.Requests.size(), reads);
}

TEST(StreamReader, EnsureAtTheEndKeepsWhatIsLeft) {
  TMemoryStream memory(Pattern(1003));
  TMPStreamReader reader(4096);
  reader.Attach(&memory, true);
  ASSERT_TRUE(reader.Skip(0));
  ASSERT_TRUE(reader.Fill(1) && reader.Skip(1000));
  EXPECT_FALSE(reader.Ensure(4));
  EXPECT_EQ(reader.Buffered(), 3);
  EXPECT_TRUE(HoldsPattern(reader, 3));
}

TEST(StreamReader, SkipPastTheEnd) {
  TMemoryStream memory(Pattern(300000));
  TMPStreamReader seekable(64);
  seekable.Attach(&memory, true);
  ASSERT_TRUE(seekable.Fill(10) && seekable.Skip(299990));  // exactly to 10 before the end
  ASSERT_TRUE(seekable.Fill(5));
  EXPECT_FALSE(seekable.Skip(11));
  EXPECT_EQ(seekable.Position(), 300000);
  EXPECT_EQ(seekable.Buffered(), 0);
  EXPECT_FALSE(seekable.Skip(INT64_MAX));
  EXPECT_EQ(seekable.Position(), 300000);

  memory.Seek(0, soBeginning);
  TNonSeekableStream pipe(memory, 5000);
  TMPStreamReader reader(65536);
  reader.Attach(&pipe, false);
  ASSERT_TRUE(reader.Fill(100) && reader.Skip(200001));  // several fills are read and passed
  ASSERT_TRUE(reader.Ensure(50));
  EXPECT_TRUE(HoldsPattern(reader, 50));
  EXPECT_FALSE(reader.Skip(100000));  // 99999 left: everything is passed
  EXPECT_EQ(reader.Position(), 300000);
  EXPECT_EQ(reader.Buffered(), 0);
}

// Random operations against a model of the position; every view of the data is checked.
TEST(StreamReader, RandomOperationsKeepPositionAndBytes) {
  constexpr int64_t kSize = 2000000;
  std::mt19937 random(12345);
  for (const bool seekable : {true, false}) {
    TMemoryStream memory(Pattern(kSize));
    TNonSeekableStream pipe(memory, 777);
    TMPStreamReader reader(3001);
    reader.Attach(seekable ? static_cast<TStream*>(&memory) : &pipe, seekable);
    int64_t position = 0;
    for (int step = 0; step < 5000 && (seekable || position < kSize); ++step) {
      SCOPED_TRACE("step " + std::to_string(step));
      const int32_t n = static_cast<int32_t>(random() % 3002);
      switch (random() % 6) {
        case 0:
          ASSERT_EQ(reader.Ensure(n), position + n <= kSize);
          if (position + n <= kSize) {
            ASSERT_TRUE(HoldsPattern(reader, n));
          }
          break;
        case 1:
          EXPECT_EQ(reader.Skip(n), position + n <= kSize);
          position = std::min(position + n, kSize);
          break;
        case 2:
          reader.ReadAhead();
          break;
        case 3:
          reader.Compact();
          ASSERT_TRUE(HoldsPattern(reader, reader.Buffered()));
          break;
        case 4:
          reader.Fill(n);
          ASSERT_TRUE(HoldsPattern(reader, reader.Contiguous()));
          break;
        case 5:
          if (seekable) position = reader.Seek(static_cast<int64_t>(random() % kSize) - position, soCurrent);
          break;
      }
      ASSERT_EQ(reader.Position(), position);
      ASSERT_EQ(memory.Position(), reader.Position() + reader.Buffered());
    }
  }
}

}  // namespace
}  // namespace plumo
