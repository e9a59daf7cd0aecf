"""orbivex: orbital elements, two-line element sets and 3-vector kernels (compiled core)."""
