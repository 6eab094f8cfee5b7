// The synthesis window D[0..511] of ISO/IEC 11172-3 (Table 3-B.3), unscaled.
#pragma once

namespace plumo {
double SynthesisWindowCoefficient(int i);
}
