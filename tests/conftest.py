"""Test-session settings: property tests run the same examples on every run and have no deadline
(the first call into a freshly built module may be slow on a busy machine). Set
HYPOTHESIS_PROFILE=explore to search new random examples instead."""

import os

from hypothesis import settings

settings.register_profile("repeatable", deadline=None, derandomize=True, print_blob=True)
settings.register_profile("explore", deadline=None, print_blob=True)
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "repeatable"))
