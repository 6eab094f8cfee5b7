// A whole file through the player's stream opening and frame production, without a device, and
// the played PCM through the loudness meter.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

#include "frame_input.h"
#include "loudness_meter.h"
#include "memory_stream.h"
#include "mp3_source.h"
#include "non_seekable_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte chooses a seekable file or a pipe that cuts reads short.
  const bool seekable = (data[0] & 1) == 0;
  const int32_t max_read = 1 + (data[0] >> 1) * 97;
  plumo::TMemoryStream memory(std::vector<uint8_t>(data + 1, data + size));
  plumo::TNonSeekableStream pipe(memory, max_read);
  plumo::Decoder decoder;
  // The last byte also chooses the channels, kernel set, polarity and equalizers (frame_input.h);
  // it stays part of the file.
  const uint8_t options = data[size - 1];
  plumo::fuzz::ApplyOptions(decoder, options, data[0]);
  plumo::TMP3Source source(decoder);
  source.SetChannelChoice(options & 3);
  try {
    source.Open(seekable ? static_cast<plumo::TStream*>(&memory) : &pipe, seekable);
  } catch (const plumo::EUnknownFormat&) {
    return 0;
  }
  std::vector<uint8_t> pcm(static_cast<size_t>(source.BytesPerFrame()));
  std::unique_ptr<plumo::TLoudnessMeter> meter;
  const plumo::OutputFormat format = source.Format();
  try {
    meter = std::make_unique<plumo::TLoudnessMeter>(format.channels, format.sample_rate);
  } catch (const std::invalid_argument&) {
  }
  // Every produced frame names a part of its PCM within the buffer.
  auto produce = [&] {
    if (!source.ProduceFrame(pcm.data())) return false;
    if (source.ProducedOffset() < 0 || source.ProducedBytes() < 0 ||
        source.ProducedOffset() + source.ProducedBytes() > source.BytesPerFrame())
      __builtin_trap();
    return true;
  };
  while (!source.AtEndOfData())
    if (produce() && meter)
      meter->Add(reinterpret_cast<const int16_t*>(pcm.data() + source.ProducedOffset()),
                 static_cast<size_t>(source.ProducedBytes()) / (2 * static_cast<size_t>(format.channels)));
  if (meter) {
    const plumo::TLoudness l = meter->Result();
    const plumo::TLoudness* parts[] = {&l};
    if (!(l.TruePeak >= l.SamplePeak) || plumo::CombinedLoudness(parts) > 20) __builtin_trap();
  }
  source.Rewind();
  if (seekable && !source.AtEndOfData()) produce();
  // A seek to a sample the middle byte chooses, and a few frames from there.
  if (source.CanSeek()) {
    source.SeekSample(source.LengthSamples() * data[size / 2] / 255);
    for (int i = 0; i < 8 && !source.AtEndOfData(); ++i) produce();
  }
  return 0;
}
