// Transitional: the Representable layout and import now live beside their module, in
// modules/representable/representable.hpp; this header goes once no file includes it.
#pragma once

#include "modules/representable/representable.hpp"

namespace orbivex::py {
using representable::as_type;
using representable::import_representable;
inline constexpr const char* representable_module = representable::module_path;
using representable::RepresentableObject;
}  // namespace orbivex::py
