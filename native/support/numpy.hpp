// NumPy's C API for orbivex modules. One translation unit per module defines
// ORBIVEX_NUMPY_IMPORT before including this header and calls import_numpy() in its exec slot.
#pragma once
#include <Python.h>

#define PY_ARRAY_UNIQUE_SYMBOL orbivex_ARRAY_API
#ifndef ORBIVEX_NUMPY_IMPORT
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>

namespace orbivex::py {

#ifdef ORBIVEX_NUMPY_IMPORT
/// Binds NumPy's C API; 0 on success, -1 with ImportError set.
inline int import_numpy() {
    // import_array() itself returns NULL, which an int function would turn into 0.
    import_array1(-1);
    return 0;
}
#endif

}  // namespace orbivex::py
