"""orbivex's test suite (a package, so that test folders can share the helpers beside this file)."""
