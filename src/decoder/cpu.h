// Processor capability detection and the choice of the decoder's kernel variants.
//
// `DetectCpu` probes the processor once per process and describes it in a CpuFlags word;
// `SelectKernels` fills a decoder's kernel slots from such a word. The player combines the probe
// with its `UsingCpuCapabilities` set through the mapping functions below.
#pragma once

#include <cstdint>

namespace plumo {

// Bits of a CpuFlags word.
namespace cpu_flags {
inline constexpr uint32_t kFpu = 0x1;
inline constexpr uint32_t kMmx = 0x2;
inline constexpr uint32_t k3DNow = 0x4;
inline constexpr uint32_t kSse = 0x8;  // "KNI"
inline constexpr uint32_t kCmov = 0x10;
inline constexpr uint32_t kE3DNow = 0x20;
inline constexpr uint32_t kEmmx = 0x40;
inline constexpr uint32_t kIntel = 0x100;
inline constexpr uint32_t kAmd = 0x200;
inline constexpr uint32_t kCyrix = 0x400;
inline constexpr uint32_t kCentaur = 0x800;
inline constexpr uint32_t kOtherVendor = 0x8000;
inline constexpr uint32_t kFamily4 = 0x100000;
inline constexpr uint32_t kFamily5 = 0x200000;
inline constexpr uint32_t kFamily6OrOther = 0x400000;
// The feature bits a user capability set controls.
inline constexpr uint32_t kCapabilityBits = 0x7E;
}  // namespace cpu_flags

// What CPUID reported: the vendor word of function 0 (ECX part) and EAX/EDX of functions 1 and
// 0x80000001.
struct CpuidRegisters {
  uint32_t vendor_ecx = 0;
  uint32_t std_eax = 0;  // function 1
  uint32_t std_edx = 0;
  uint32_t ext_edx = 0;  // function 0x80000001
};

// The CpuFlags word of a processor with an FPU and CPUID that reported `r`. sse_usable tells
// whether loading the SSE control register succeeded (it clears 0x8 when false).
uint32_t CpuFlagsFromCpuid(const CpuidRegisters& r, bool sse_usable = true);

// Probes the processor on the first call; later calls return the stored word. Only CPUID is
// issued: the calling thread's floating-point control state (x87 control word, MXCSR) is left as
// it is.
uint32_t DetectCpu();

// TMP3CpuCapabilities (a set of ordinals mccMMX 0 .. mccEMMX 5 as bits) <-> CpuFlags bits.
uint32_t CpuFlagsFromCapabilities(uint8_t capabilities);
uint8_t CapabilitiesFromCpuFlags(uint32_t flags);

// Kernel variants, named after the processors they were scheduled for.
enum class KernelVariant : uint8_t {
  kX87,         // plain FPU code: extended precision, round to nearest even, clipping
  kPentium,     // the same results, scheduled for Pentium-class pipelines
  kCmov,        // the same results, clipping by conditional moves
  k3DNow,       // single precision, 3DNow! conversion
  kEnhanced3DNow,  // single precision with the 3DNow! extensions, 3DNow! conversion
};
const char* KernelVariantName(KernelVariant v);

// The variant each kernel slot gets.
struct KernelChoice {
  KernelVariant alias_reduction = KernelVariant::kX87;
  KernelVariant hybrid = KernelVariant::kX87;
  KernelVariant long_transform = KernelVariant::kX87;
  KernelVariant short_transform = KernelVariant::kX87;
  KernelVariant window_mono = KernelVariant::kX87;
  KernelVariant window_stereo = KernelVariant::kX87;
  friend bool operator==(const KernelChoice&, const KernelChoice&) = default;
};

// The selection rules: the first matching rule of each slot wins.
KernelChoice ChooseKernels(uint32_t flags);

// The flags the decoder's own selection goes by. On x86-64 every processor has SSE2 and the exact
// forms run on all of them, so the 3DNow! bits are dropped there: the single-precision 3DNow!
// variants would give other PCM than every other processor (their conversion lowers sums <= 0 by
// one). They stay available by name (Decoder::SelectKernelSet).
uint32_t SelectionFlags(uint32_t flags);

// The instruction-set forms the x87-family (exact) variants run in. Every form gives the same
// values; a slot runs the widest of its forms up to the one asked for and this processor's.
enum class KernelForm : uint8_t { kScalar, kAvx2, kAvx512 };
const char* KernelFormName(KernelForm f);  // "scalar", "AVX2", "AVX-512"
// The widest form this processor runs.
KernelForm BestKernelForm();

// Fills the process decoder's kernel slots (see also Decoder::SelectKernels).
void SelectKernels(uint32_t flags);

}  // namespace plumo
