// Raw C++ loops over quiver's row kernels: the limit that norm_array/normalize_array chase.
#include <cstddef>
#include <cstring>

#include "kernels/quiver.hpp"

extern "C" {

/// Lengths of n rows of a C-contiguous n×3 array.
void loop_norm(const double* a, std::ptrdiff_t n, double* out) {
    for (std::ptrdiff_t i = 0; i < n; ++i) out[i] = orbivex::kern::norm(a + 3 * i);
}

/// Unit rows of a C-contiguous n×3 array.
void loop_normalize(const double* a, std::ptrdiff_t n, double* out) {
    for (std::ptrdiff_t i = 0; i < n; ++i) orbivex::kern::normalize(a + 3 * i, out + 3 * i);
}

}  // extern "C"
