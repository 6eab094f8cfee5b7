// Tag reading (ID3, APEv2, RIFF INFO, Lyrics3, pictures, ReplayGain) on a fuzzed file, seekable (front and end) and as a pipe (front only).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "memory_stream.h"
#include "mp3_info.h"
#include "non_seekable_stream.h"
#include "stream_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  plumo::TMemoryStream memory(std::vector<uint8_t>(data, data + size));
  for (const bool seekable : {true, false}) {
    memory.Seek(0, plumo::soBeginning);
    plumo::TNonSeekableStream pipe(memory, 1000);
    plumo::TMPStreamReader reader(65536);
    reader.Attach(seekable ? static_cast<plumo::TStream*>(&memory) : &pipe, seekable);
    plumo::TMP3Info info;
    info.SetNeedInfoType(plumo::TMP3InfoTypes::FromBits(0x3F));
    info.SetReader(&reader);
    info.ReadFront();
    if (seekable) info.ReadEnd();
    (void)info.Title();
    (void)info.Artist();
    (void)info.Album();
    (void)plumo::ReplayGainFactor(info.ReplayGain(), plumo::rgmAlbum);
    (void)plumo::PictureKind(info.Picture().Data);
    if (info.AudioStart() < 0 || info.AudioSize() < 0) __builtin_trap();
  }
  return 0;
}
