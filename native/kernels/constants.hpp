// Mathematical constants shared by the kernels and the glue, each defined once.
#pragma once

#include <numbers>

namespace orbivex::kern {

/// π and 2π rounded to the nearest double (doubling is exact, so 2π is 2 times π to the bit).
inline constexpr double pi = std::numbers::pi;
inline constexpr double two_pi = 2.0 * std::numbers::pi;
static_assert(pi == 3.141592653589793 && two_pi == 6.283185307179586);

}  // namespace orbivex::kern
