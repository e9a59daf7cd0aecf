"""Tests of orbivex.utils."""
