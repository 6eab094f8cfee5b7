// Processor probe and kernel selection.
#include "cpu.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define PLUMO_HAVE_CPUID 1
#endif

#include <algorithm>
#include <string>

#include "decoder.h"
#include "kernels.h"

namespace plumo {

using namespace cpu_flags;

uint32_t CpuFlagsFromCpuid(const CpuidRegisters& r, bool sse_usable) {
  uint32_t flags = kFpu;
  // The vendor test looks at the last four characters of the vendor string (its ECX part).
  switch (r.vendor_ecx) {
    case 0x6c65746e: flags |= kIntel; break;    // "ntel" of "GenuineIntel"
    case 0x444d4163: flags |= kAmd; break;      // "cAMD" of "AuthenticAMD"
    case 0x64616574: flags |= kCyrix; break;    // "tead" of "CyrixInstead"
    case 0x736c7561: flags |= kCentaur; break;  // "auls" of "CentaurHauls"
    default: flags |= kOtherVendor; break;
  }
  // The whole byte above stepping and model: a non-zero processor type or an extended family
  // counts as "other".
  const uint32_t family = (r.std_eax >> 8) & 0xFF;
  if (family == 4) return flags | kFamily4;  // no feature bits for a 486
  flags |= family == 5 ? kFamily5 : kFamily6OrOther;
  if (r.ext_edx & (1u << 31)) flags |= k3DNow;
  if (r.ext_edx & (1u << 15)) flags |= kCmov;
  if (r.ext_edx & (1u << 30)) flags |= kE3DNow;
  if (r.ext_edx & (1u << 22)) flags |= kEmmx;
  if (r.std_edx & (1u << 23)) flags |= kMmx;
  if (r.std_edx & (1u << 15)) flags |= kCmov;
  if (r.std_edx & (1u << 25)) flags |= kEmmx | kSse;
  if (!sse_usable) flags &= ~kSse;
  return flags;
}

namespace {

uint32_t Probe() {
#ifdef PLUMO_HAVE_CPUID
  // The FPU, alignment-check and ID-flag tests always pass on the processors this runs on.
  CpuidRegisters r;
  unsigned a = 0, b = 0, c = 0, d = 0;
  __cpuid(0, a, b, c, d);
  r.vendor_ecx = c;
  __cpuid(1, a, b, c, d);
  r.std_eax = a;
  r.std_edx = d;
  __cpuid(0x80000001u, a, b, c, d);
  r.ext_edx = d;
  // The SSE control register is not loaded: its flush-to-zero would change the results of the
  // calling thread only (and of no other), and the kernels need none of it.
  return CpuFlagsFromCpuid(r, true);
#else
  return kFpu | kOtherVendor | kFamily6OrOther;
#endif
}

}  // namespace

uint32_t DetectCpu() {
  static const uint32_t flags = Probe();
  return flags;
}

// Capability ordinals mccMMX, mcc3DNow, mccKNI, mccE3DNow, mccCMOV, mccEMMX and their bits.
namespace {
constexpr uint32_t kCapabilityFlag[6] = {kMmx, k3DNow, kSse, kE3DNow, kCmov, kEmmx};
}

uint32_t CpuFlagsFromCapabilities(uint8_t capabilities) {
  uint32_t flags = 0;
  for (int i = 0; i < 6; ++i)
    if (capabilities & (1u << i)) flags |= kCapabilityFlag[i];
  return flags;
}

uint8_t CapabilitiesFromCpuFlags(uint32_t flags) {
  uint8_t set = 0;
  for (int i = 0; i < 6; ++i)
    if (flags & kCapabilityFlag[i]) set = static_cast<uint8_t>(set | (1u << i));
  return set;
}

const char* KernelVariantName(KernelVariant v) {
  switch (v) {
    case KernelVariant::kX87: return "x87";
    case KernelVariant::kPentium: return "Pentium x87";
    case KernelVariant::kCmov: return "x87 with conditional moves";
    case KernelVariant::k3DNow: return "3DNow!";
    case KernelVariant::kEnhanced3DNow: return "enhanced 3DNow!";
  }
  return "?";
}

KernelChoice ChooseKernels(uint32_t flags) {
  if (!(flags & k3DNow)) flags &= ~kE3DNow;  // no enhanced 3DNow! without 3DNow!
  const bool e3dnow = flags & kE3DNow;
  const bool amd3dnow = flags & k3DNow;
  const bool intel56 = (flags & kIntel) && (flags & (kFamily5 | kFamily6OrOther));
  using V = KernelVariant;
  KernelChoice k;
  k.alias_reduction = e3dnow ? V::kEnhanced3DNow : amd3dnow ? V::k3DNow : V::kX87;
  const V window = (e3dnow && (flags & kEmmx)) ? V::kEnhanced3DNow
                   : amd3dnow                  ? V::k3DNow
                   : intel56 && (flags & kCmov) ? V::kCmov
                   : intel56                   ? V::kPentium
                                               : V::kX87;
  k.window_mono = k.window_stereo = window;
  k.hybrid = (e3dnow && (flags & kCmov)) ? V::kEnhanced3DNow : intel56 ? V::kPentium : V::kX87;
  k.long_transform = k.short_transform = e3dnow ? V::kEnhanced3DNow : intel56 ? V::kPentium : V::kX87;
  return k;
}

uint32_t SelectionFlags(uint32_t flags) {
#if defined(__x86_64__)
  return flags & ~(k3DNow | kE3DNow);
#else
  return flags;
#endif
}

const char* KernelFormName(KernelForm f) {
  switch (f) {
    case KernelForm::kScalar: return "scalar";
    case KernelForm::kAvx2: return "AVX2";
    case KernelForm::kAvx512: return "AVX-512";
  }
  return "?";
}

KernelForm BestKernelForm() {
  return HasAvx512() ? KernelForm::kAvx512 : HasAvx2() ? KernelForm::kAvx2 : KernelForm::kScalar;
}

// The x87-family variants give the same values, so up to the form asked for all of them run the
// vector forms; the scalar forms serve the processors they were written for.
KernelSet KernelsFor(const KernelChoice& choice, KernelForm form) {
  using V = KernelVariant;
  form = std::min(form, BestKernelForm());
  const bool avx2 = form >= KernelForm::kAvx2;
  const bool avx512 = form == KernelForm::kAvx512;
  KernelSet k;
  k.choice = choice;
  k.form = form;
  k.matrix_kernel = avx512 ? Matrix32Avx512 : avx2 ? Matrix32Avx2 : Matrix32Scalar;
  k.requantize_kernel = avx512 ? RequantizeRunAvx512 : avx2 ? RequantizeRunAvx2 : RequantizeRunScalar;
  k.layer2_scale_kernel = avx512 ? Layer2ScaleAvx512 : avx2 ? Layer2ScaleAvx2 : Layer2ScaleScalar;
  switch (choice.alias_reduction) {
    case V::kEnhanced3DNow: k.alias_reduction_kernel = AliasReductionE3DNow; break;
    case V::k3DNow: k.alias_reduction_kernel = AliasReduction3DNow; break;
    default:
      k.alias_reduction_kernel = avx512 ? AliasReductionAvx512 : avx2 ? AliasReductionAvx2 : AliasReductionX87;
      k.choice.alias_reduction = V::kX87;
      break;
  }
  switch (choice.hybrid) {
    case V::kEnhanced3DNow: k.hybrid_kernel = HybridE3DNow; break;
    case V::kPentium: k.hybrid_kernel = avx512 ? HybridAvx512 : avx2 ? HybridAvx2 : HybridPentium; break;
    default:
      k.hybrid_kernel = avx512 ? HybridAvx512 : avx2 ? HybridAvx2 : HybridPentium;
      k.choice.hybrid = V::kX87;
      break;
  }
  switch (choice.long_transform) {
    case V::kEnhanced3DNow: k.long_transform_kernel = LongTransformE3DNow; break;
    case V::kPentium: k.long_transform_kernel = avx2 ? LongTransformAvx2 : LongTransformPentium; break;
    default:
      k.long_transform_kernel = avx2 ? LongTransformAvx2 : LongTransformPentium;
      k.choice.long_transform = V::kX87;
      break;
  }
  switch (choice.short_transform) {
    case V::kEnhanced3DNow: k.short_transform_kernel = ShortTransformE3DNow; break;
    case V::kPentium: k.short_transform_kernel = ShortTransformPentium; break;
    default: k.short_transform_kernel = ShortTransformX87; k.choice.short_transform = V::kX87; break;
  }
  auto window = [avx2, avx512](V v, bool stereo) -> WindowKernelFn {
    switch (v) {
      case V::kEnhanced3DNow: return stereo ? WindowStereoE3DNow : WindowMonoE3DNow;
      case V::k3DNow: return stereo ? WindowStereo3DNow : WindowMono3DNow;
      case V::kCmov:
        if (!avx2) return stereo ? WindowStereoCmov : WindowMonoCmov;
        break;
      case V::kPentium:
        if (!avx2) return stereo ? WindowStereoPentium : WindowMonoPentium;
        break;
      case V::kX87:
        if (!avx2) return stereo ? WindowStereoPentium : WindowMonoPentium;
        break;
    }
    if (avx512) return stereo ? WindowStereoAvx512 : WindowMonoAvx512;
    return stereo ? WindowStereoAvx2 : WindowMonoAvx2;
  };
  k.window_kernel_mono = window(choice.window_mono, false);
  k.window_kernel_stereo = window(choice.window_stereo, true);
  const bool single_stereo = choice.window_stereo == V::k3DNow || choice.window_stereo == V::kEnhanced3DNow;
  if (avx2 && !single_stereo) k.window_kernel_pair = avx512 ? WindowPairAvx512 : WindowPairAvx2;
  return k;
}

KernelSet PlainKernels() { return KernelsFor(KernelChoice{}, KernelForm::kScalar); }

std::string KernelReport(const KernelSet& k) {
  using V = KernelVariant;
  // The form each x87-family slot runs at the set's form: the widest it has up to that one.
  const KernelForm f = k.form;
  const KernelForm up_to_avx2 = std::min(f, KernelForm::kAvx2);
  auto single = [](V v) { return v == V::k3DNow || v == V::kEnhanced3DNow; };
  auto slot = [&single](const char* name, V v, KernelForm form) {
    return std::string(name) + ' ' + (single(v) ? KernelVariantName(v) : KernelFormName(form));
  };
  const KernelChoice& c = k.choice;
  const bool exact = !single(c.alias_reduction) && !single(c.hybrid) && !single(c.long_transform) &&
                     !single(c.short_transform) && !single(c.window_mono) && !single(c.window_stereo);
  std::string r = exact ? "exact (double precision, rounded): " : "single precision (3DNow! conversion): ";
  r += slot("requantization", V::kX87, f) + ", ";
  r += slot("alias reduction", k.choice.alias_reduction, f) + ", ";
  r += slot("hybrid filterbank", k.choice.hybrid, f) + ", ";
  r += slot("long transform", k.choice.long_transform, up_to_avx2) + ", ";
  r += slot("short transform", k.choice.short_transform, KernelForm::kScalar) + ", ";
  r += slot("matrixing", V::kX87, f) + ", ";
  r += slot("windows", k.choice.window_stereo, f);
  return r;
}

void SelectKernels(uint32_t flags) { ProcessDecoder().SelectKernels(flags); }

}  // namespace plumo
