// The decoder's whole state and its function slots. Internal to the decoder.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "bit_reader.h"
#include "cpu.h"
#include "decoder.h"
#include "fixed_buffer.h"
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

constexpr int kRingSize = 512;
// Ring values are the matrixing's single-precision sums, held in double precision so the
// double-precision window kernels read them without a conversion (the values are the same). Each
// ring of 512 values is stored twice in a row (value i also at i + 512), so a window kernel reads
// the 16 most recent blocks from `position` on without wrapping.
using RingValue = double;
constexpr int kRingStorage = 2 * kRingSize;

// Synthesis window in the kernels' layout. A slot's window sums run over the 16 most recent ring
// blocks (ages a = 0 .. 15); the kernels read 16 consecutive ring values per age: x[16 .. 31] for
// even ages and x[0 .. 15] for odd ones, so the coefficients are stored in that reading order.
//   even a: lo[a][i] weighs x[16 + i] into output i; hi[a][i] weighs x[16 + i] into output 32 - i
//           (hi[a][0] = 0).
//   odd a:  lo[a][i] weighs x[i] into output 16 - i; hi[a][i] weighs x[i] into output 16 + i
//           (hi[a][0] = 0); first[a] weighs x[16] into output 0.
// lo_wide, hi_wide and first_wide repeat lo, hi and first in double precision for the x87 kernels; a table whose
// float coefficients were changed is brought up to date by WidenSynthesisWindow.
struct SynthesisWindow {
  alignas(64) float lo[16][16];
  alignas(64) float hi[16][16];
  alignas(64) float first[16];
  alignas(64) double lo_wide[16][16];
  alignas(64) double hi_wide[16][16];
  alignas(64) double first_wide[16];
};
void WidenSynthesisWindow(SynthesisWindow& w);

// Kernel slots, filled by kernel selection. Every variant of a slot computes the same values
// (single-precision variants may differ in the last bits and convert to PCM by their own rule).
//
// Alias-reduction butterflies at `boundaries` sub-band boundaries, in place.
using AliasReductionFn = void (*)(float* lines, int boundaries);
// IMDCT, windowing and overlap-add of one channel's granule: writes the time-slot buffer `out`
// (32 floats per slot) and leaves the next granule's overlap in `lines`; returns the new extent.
// With `mixed` the two lowest sub-bands take the normal window whatever the block type.
using HybridKernelFn = int (*)(float* lines, const float* previous, float* out, int block_type, bool mixed,
                               int long_lines, int nonzero_lines, int previous_extent, int synth_subbands);
// In-place 18-point DCT-IV (long) or three 6-point DCT-IVs of the reordered windows (short).
using TransformFn = void (*)(float* x);
// Window kernels: the 32 PCM samples of the slot whose matrixed values sit at `position` in the
// ring (64-byte aligned, kRingStorage values with the second half repeating the first). The mono kernel writes dest[0 .. 31], the stereo kernel dest[0], dest[2],
// ..., dest[62] and nothing else.
using WindowKernelFn = void (*)(const SynthesisWindow& window, const RingValue* ring, int position, int16_t* dest);
// Both channels of a two-channel slot at once, their rings at the same position: dest[0 .. 63]
// takes the interleaved samples, the values the stereo kernel gives for each ring.
using WindowPairFn = void (*)(const SynthesisWindow& window, const RingValue* ring0, const RingValue* ring1,
                              int position, int16_t* dest);

// The standard's matrixing of 32 sub-band samples (stride 1 or 2) into the ring at `position`
// (and its repetition at position + kRingSize).
using Matrix32Fn = void (*)(const float* samples, int stride, RingValue* ring, int position);
// Requantization of a run of lines: out[i] = factor sign(in[i]) pow43[|in[i]|] (magnitudes held
// at 8206, the largest a Huffman value can have); returns the OR of the inputs.
using RequantizeFn = int32_t (*)(const int32_t* in, float* out, int n, float factor, const float* pow43);
// Layer II scaling of a frame's 36 slots of 64 places, places from .. to - 1 of each:
// out[64 s + j] = factors[64 (s / 12) + j] values[64 s + j], kept where keep[j] is all ones and +0
// where it is 0.
using Layer2ScaleFn = void (*)(const int32_t* values, const float* factors, const uint32_t* keep, float* out,
                               int from, int to);

struct KernelSet {
  Matrix32Fn matrix_kernel = nullptr;
  RequantizeFn requantize_kernel = nullptr;
  Layer2ScaleFn layer2_scale_kernel = nullptr;
  AliasReductionFn alias_reduction_kernel = nullptr;
  HybridKernelFn hybrid_kernel = nullptr;
  TransformFn long_transform_kernel = nullptr;
  TransformFn short_transform_kernel = nullptr;
  WindowKernelFn window_kernel_mono = nullptr;
  WindowKernelFn window_kernel_stereo = nullptr;
  // The vector forms' pair kernel (sharing each window coefficient load between the channels);
  // null where the stereo window kernel has none.
  WindowPairFn window_kernel_pair = nullptr;
  KernelChoice choice{};
  KernelForm form = KernelForm::kScalar;  // the widest form the x87-family slots run
};

// Layer III side information of one granule and channel.
struct GranuleInfo {
  int32_t part2_3_length, big_values, global_gain, scalefac_compress, window_switching_flag, block_type,
      mixed_block_flag, table_select[3], subblock_gain[3], region0_count, region1_count, preflag, scalefac_scale,
      count1table_select;
};

// What requantization leaves for the stereo stages, per channel.
struct RequantRecord {
  int block_kind;          // 0 long only, 1 short or mixed
  int last_band;           // last nonzero band (long) or the largest of the windows' (short)
  int first_short_band;    // 0, 3 for mixed blocks, 12 without short blocks
  int long_bands;          // 22, 0 for short blocks, 8 (MPEG-1) or 6 (LSF) for mixed blocks
  int last_short_band[3];  // last nonzero short band per window
  int last_long_band;      // last nonzero band of the long part (long and mixed blocks), -1 none
};

struct Layer3State {
  static constexpr int kMainDataSize = 8192;
  // Main-data reservoir; main_fill bytes of it hold data. Readers are bounded by main_fill.
  FixedBuffer<uint8_t, kMainDataSize> main_data;
  int main_fill = 0;
  int frame_start = 0;
  int bit_position = 0;

  int main_data_begin = 0;
  int private_bits = 0;
  int mode = 0, mode_extension = 0;
  int scfsi[2] = {0, 0};
  GranuleInfo gi[2][2] = {};  // [granule or parity][channel]
  int channels = 0;
  bool ms = false, intensity = false;
  int padding = 0, crc_length = 0, frame_length = 0;
  bool mpeg25 = false;
  uint32_t frame_counter = 0;
  int scalefactors[2][2][62] = {};  // [granule or parity][channel]
  // LSF intensity-stereo record of the right channel.
  int is_partition_sizes[3] = {0, 0, 0};
  int is_slen[3] = {0, 0, 0};
  int intensity_scale = 0;
  int lsf_parity = 0;
  int gain_bias = 0;

  // Line limits.
  int decode_limit = 576;
  int long_cap = 576;
  int short_cap = 576;
  int version = 0;  // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
  int long_start[23] = {};   // start of each long band; [22] = 576
  int short_start[14] = {};  // start of each short band within a window; [13] = 192

  int nonzero[2] = {0, 0};  // per channel, for the current granule
  RequantRecord rq[2] = {};
  int overlap_extent[2][2] = {};  // [channel][parity]
  FixedBuffer<int32_t[576], 2> int_lines;
  FixedBuffer<float, 576> scratch;
  FixedBuffer<float, 576> timeslots;
  FixedBuffer<float, 576> timeslots_second;  // the second channel's, when both are synthesised together
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
  int band_subbands = 0;   // Layers I/II: sub-bands per channel the band limit lets through

  // Sample buffer shared with synthesis: Layers I/II sub-band samples (two channels interleaved),
  // Layer III spectral lines [channel][parity][576].
  FixedBuffer<float, 2 * 2 * 576> samples;
  // Layer II: a frame's sample values as integers, laid out as `samples` (36 slots of 64 floats)
  // before they are scaled.
  FixedBuffer<int32_t[64], 36> layer2_values;

  // Synthesis rings, one per channel, and their positions.
  alignas(64) RingValue ring[2][kRingStorage] = {};
  int ring_pos[2] = {0, 0};
  SynthesisWindow window{};
  int polarity = 0;

  // Equalizer gains and switches.
  float subband_gains[32];
  float line_gains[576];
  bool subband_eq_on = false;
  bool line_eq_on = false;

  Layer3State l3;

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

// Layer III.
int SetupLayer3(DecoderContext& ctx, const FrameHeader& h);
float* GranuleBuffer(DecoderContext& ctx, int channel, int parity);

// Synthesis.
void BuildSynthesisWindow(SynthesisWindow& w);
void ResetSynthesis(DecoderContext& ctx);
Layer12OutputFn SelectLayer12OutputStage(int v);
Layer3OutputFn SelectLayer3OutputStage(int output_channels);
// Both channels' 18 time slots into interleaved PCM at once through the pair window kernel;
// returns false (and does nothing) where the kernels have none or the rings stand apart.
bool Layer3BothChannels(DecoderContext& ctx, const float* first, const float* second, int16_t* pcm);
// The kernels of a selection in forms up to `form` (and this processor's widest); PlainKernels()
// is the scalar x87 set.
KernelSet KernelsFor(const KernelChoice& choice, KernelForm form = BestKernelForm());
KernelSet PlainKernels();
// Which variant and form each slot of a set runs, in words.
std::string KernelReport(const KernelSet& k);

}  // namespace plumo
