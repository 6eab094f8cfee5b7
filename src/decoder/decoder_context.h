// The decoder's whole state and its function slots. Internal to the decoder.
#pragma once

#include <array>
#include <cstdint>

#include "bit_reader.h"
#include "decoder.h"
#include "frame_header.h"

namespace plumo {

struct DecoderContext;

// Function slots. Every variant of a slot computes the same values.
using FrameDecoderFn = DecodeResult (*)(DecoderContext&, const uint8_t* frame, size_t size, uint8_t* pcm);
// Layers I and II: synthesis of `slots` time slots of the interleaved sample buffer into PCM.
using Layer12OutputFn = void (*)(DecoderContext&, const float* samples, int16_t* pcm, int slots);
// Layer III: synthesis of 18 time slots (32 floats each) into PCM for one channel.
using Layer3OutputFn = void (*)(DecoderContext&, const float* timeslots, int16_t* pcm, int channel);
using ChannelStageFn = void (*)(DecoderContext&, int16_t* pcm, int parity);

// Window kernels: output sample j of the slot whose matrixed values sit at `position` in the ring.
// The mono kernel writes 32 consecutive samples, the stereo kernel every other sample.
using WindowKernelFn = void (*)(const float* window, const float* ring, int position, int16_t* dest);

struct KernelSet {
  WindowKernelFn window_kernel_mono = nullptr;
  WindowKernelFn window_kernel_stereo = nullptr;
};

constexpr int kRingSize = 512;
// Synthesis window in the kernels' layout: for each of the 16 slot ages, 17 coefficients for
// outputs 0..16 and 16 for outputs 32 - j (j = 1..15, entry 0 unused).
struct SynthesisWindow {
  alignas(64) float lo[16][17];
  alignas(64) float hi[16][16];
};

struct DecoderContext {
  // Stream configuration.
  FrameHeader header{};
  int layer_code = 0;
  int frame_length = 0;
  int eight_bit = 0;
  int downsample_shift = 0;
  int channel_choice = 0;
  int stream_channels = 0;
  int output_channels = 0;
  int pcm_samples_per_frame = 0;
  int pcm_bytes_per_frame = 0;
  int pcm_bytes_per_granule = 0;
  uint8_t silence_byte = 0;
  OutputFormat format{};
  bool configured = false;

  // Decode limits.
  int synth_subbands = 0;  // sub-bands to synthesise (doubled for two-channel Layers I/II)
  int sblimit = 0;         // Layer II: allocated sub-bands (doubled for two channels)
  int alloc_table = 0;     // Layer II allocation table number

  // Sample buffer shared with synthesis: Layers I/II sub-band samples (two channels interleaved),
  // Layer III spectral lines [channel][parity][576].
  alignas(64) float samples[2 * 2 * 576] = {};

  // Synthesis rings, one per channel, and their positions.
  alignas(64) float ring[2][kRingSize] = {};
  int ring_pos[2] = {0, 0};
  SynthesisWindow window{};
  int polarity = 0;

  // Equalizer gains and switches.
  float subband_gains[32];
  float line_gains[576];
  bool subband_eq_on = false;
  bool line_eq_on = false;

  BitReader frame_reader;
  BitReader main_reader;

  // Function slots.
  FrameDecoderFn frame_decoder = nullptr;
  Layer12OutputFn output_stage = nullptr;
  FrameDecoderFn layer3_frame_decoder = nullptr;
  ChannelStageFn channel_stage = nullptr;
  Layer3OutputFn layer3_output_stage = nullptr;
  KernelSet kernels{};

  DecoderContext();
};

// Layer I and II.
DecodeResult DecodeLayer1Frame(DecoderContext& ctx, const uint8_t* frame, size_t size, uint8_t* pcm);
DecodeResult DecodeLayer2Frame(DecoderContext& ctx, const uint8_t* frame, size_t size, uint8_t* pcm);
// Selects the Layer II allocation table; returns false for combinations the standard does not allow.
bool SetupLayer2Allocation(DecoderContext& ctx, const FrameHeader& h);

// Synthesis.
void BuildSynthesisWindow(SynthesisWindow& w);
void ResetSynthesis(DecoderContext& ctx);
Layer12OutputFn SelectLayer12OutputStage(int v);
Layer3OutputFn SelectLayer3OutputStage(int output_channels);
KernelSet PlainKernels();
// The standard's matrixing of 32 sub-band samples (stride 1 or 2) into the ring at `position`.
void Matrix32(const float* samples, int stride, float* ring, int position);

}  // namespace plumo
