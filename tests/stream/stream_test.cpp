// File, memory and non-seekable streams.
#include <gtest/gtest.h>

#include <unistd.h>

#include "file_stream.h"
#include "memory_stream.h"
#include "non_seekable_stream.h"
#include "test_files.h"

namespace plumo {
namespace {

TEST(Streams, FileStreamReadsAndSeeksLikeTheFile) {
  const std::string path = test::DataPath("samples/tag_id3v1_1.mp3");
  const std::vector<uint8_t> expected = test::ReadFile(path);
  TFileStream stream(path);
  ASSERT_EQ(stream.Size(), static_cast<int64_t>(expected.size()));
  std::vector<uint8_t> all(expected.size());
  for (int64_t got = 0, n; (n = stream.Read(all.data() + got, 1000)) > 0;) got += n;
  EXPECT_EQ(all, expected);
  EXPECT_EQ(stream.Seek(-128, soEnd), stream.Size() - 128);
  EXPECT_EQ(stream.Seek(3, soCurrent), stream.Size() - 125);
  EXPECT_THROW(stream.Seek(-1, soBeginning), EStreamError);
}

TEST(Streams, OpenFailuresNameTheFileAndTheReason) {
  const std::string missing = test::DataPath("samples/no-such-file.mp3");
  try {
    TFileStream stream(missing);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + missing + "\". No such file or directory");
  }
  EXPECT_THROW(TFileStream(test::DataPath("samples")), EFOpenError);  // a folder
}

TEST(Streams, PipesAndTheWrapperCannotSeek) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], "abc", 3), 3);
  ::close(fds[1]);
  TFileStream pipe("/proc/self/fd/" + std::to_string(fds[0]));
  ::close(fds[0]);
  char buffer[8];
  EXPECT_EQ(pipe.Read(buffer, 8), 3);
  EXPECT_EQ(pipe.Read(buffer, 8), 0);
  EXPECT_THROW(pipe.Seek(0, soBeginning), EStreamError);

  TMemoryStream memory(std::vector<uint8_t>{1, 2, 3, 4, 5});
  EXPECT_EQ(memory.Seek(10, soEnd), 15);  // beyond the end: reads give nothing
  EXPECT_EQ(memory.Read(buffer, 8), 0);
  memory.Seek(0, soBeginning);
  TNonSeekableStream wrapper(memory, 2);
  EXPECT_EQ(wrapper.Read(buffer, 8), 2);
  EXPECT_THROW(wrapper.Seek(0, soCurrent), EStreamError);
  EXPECT_THROW(wrapper.Size(), EStreamError);
}

}  // namespace
}  // namespace plumo
