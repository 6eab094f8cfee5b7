// The MPEG audio decoder as the player sees it: one set-up per stream (and after every
// reposition), one call per frame that turns a complete frame into 16-bit PCM, and the PCM format.
//
// A `Decoder` object holds the whole decoder state. The process has one of them, used through the
// free functions below (`DecoderSetup`, `DecodeFrame`, ...); tests may make their own objects. No
// operation is reentrant: callers serialise every call on one decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "cpu.h"
#include "frame_header.h"

namespace plumo {

struct OutputFormat {
  int32_t channels = 0;           // 1 or 2
  int32_t samples_per_frame = 0;  // over all output channels
  int32_t sample_rate = 0;        // Hz
  int32_t bits_per_sample = 0;    // 8 or 16
  int32_t frame_length = 0;       // the unpadded frame length given to set-up
  int32_t reserved = 0;
};

struct DecodeResult {
  int32_t consumed = 0;  // frame length including padding; 0 = frame rejected
  int32_t produced = 0;  // PCM bytes written
};

// Channel choices (bits 1-0 of the output mode byte).
enum ChannelChoice : int { kChannelsBoth = 0, kChannelsMix = 1, kChannelsLeft = 2, kChannelsRight = 3 };

struct DecoderContext;

class Decoder {
 public:
  Decoder();
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // Configures the decoder for the stream whose current frame has this header. Returns 1 when the
  // stream can be decoded, 0 otherwise. output_mode bit 3 asks for 8-bit samples (refused: only
  // 16-bit output exists), bits 1-0 are the channel choice. downsample_shift must be 0 (only
  // full-rate output exists); other values are refused.
  int Setup(const FrameHeader& header, int frame_length, int downsample_shift, int reserved, int output_mode,
            int band_limit_hz);

  OutputFormat GetOutputFormat() const;

  // Decodes one complete frame. frame holds the whole frame including padding (size bytes are
  // readable); pcm must have room for the PCM bytes of one frame.
  DecodeResult DecodeFrame(const uint8_t* frame, size_t size, uint8_t* pcm);

  // PCM bytes one frame produces with the current set-up.
  int PcmBytesPerFrame() const;

  // Polarity inversion: negates every sample produced afterwards.
  void SetPolarity(bool on);
  int GetPolarity() const;

  // Equalizer tables: 32 sub-band gains applied before matrixing and 576 Layer III line gains
  // applied before the hybrid filterbank, each used while its switch is on. Set-up leaves them
  // as they are; they start at gain 1.0 with both switches off.
  float* SubbandGains();
  float* LineGains();
  void SetSubbandEqualizerOn(bool on);
  void SetLineEqualizerOn(bool on);
  bool SubbandEqualizerOn() const;
  bool LineEqualizerOn() const;

  // Fills the kernel slots from a CpuFlags word by ChooseKernels(SelectionFlags(flags)) (see
  // cpu.h). A new decoder starts with the selection for DetectCpu().
  void SelectKernels(uint32_t flags);
  // Fills the kernel slots with the named variants in forms up to `form` (and this processor's).
  void SelectKernelSet(const KernelChoice& choice, KernelForm form);
  // The variant each kernel slot holds.
  KernelChoice SelectedKernels() const;
  // Which variant and instruction-set form each slot runs, in words.
  std::string KernelReport() const;

  DecoderContext& Context() { return *ctx_; }

 private:
  std::unique_ptr<DecoderContext> ctx_;
};

// The process's decoder.
Decoder& ProcessDecoder();

int DecoderSetup(const FrameHeader& header, int frame_length, int downsample_shift, int reserved, int output_mode,
                 int band_limit_hz);
void GetOutputFormat(OutputFormat& destination);
DecodeResult DecodeFrame(const uint8_t* frame, size_t size, uint8_t* pcm);
void SetPolarity(bool on);
int GetPolarity();

}  // namespace plumo
