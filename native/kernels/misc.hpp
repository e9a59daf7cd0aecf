// Small scalar kernels shared by several modules: the asymmetric arc tangent.
#pragma once

#include <cmath>

#include "kernels/constants.hpp"

namespace orbivex::kern {

/// Angle of the point (x, y) in radians, folded into [0, 2π]: atan2's (−π, π] range with 2π
/// added to a negative result, so that orbit angles come out non-negative. A tiny negative
/// angle rounds up to exactly 2π; −0.0 is not negative and passes through unchanged.
inline double atan2_asymmetric(const double y, const double x) noexcept {
    const double angle = std::atan2(y, x);
    return angle < 0.0 ? angle + two_pi : angle;
}

}  // namespace orbivex::kern
