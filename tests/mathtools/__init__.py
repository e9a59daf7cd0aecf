"""Tests of orbivex.mathtools."""
