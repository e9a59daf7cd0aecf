# Entry points: `make demo`, `make test`, `make bench`. Each builds its own virtual environment.
PYTHON ?= python3
VENV ?= .venv
PIP_FLAGS ?= --quiet --disable-pip-version-check

.PHONY: demo test bench clean

$(VENV)/bin/python:
	$(PYTHON) -m venv $(VENV)
	$(VENV)/bin/python -m pip install $(PIP_FLAGS) --upgrade pip

demo: $(VENV)/bin/python
	$(VENV)/bin/python -m pip install $(PIP_FLAGS) ".[plot]"
	cd examples && ../$(VENV)/bin/python tle_demo.py

# The tests also need orbivex._testing, which a plain install leaves out. tools/lint checks
# the tracked files with ruff and clang-format first (LINT=0 leaves it out).
LINT ?= 1
test: $(VENV)/bin/python
	ORBIVEX_TESTING=ON $(VENV)/bin/python -m pip install $(PIP_FLAGS) ".[test]"
	$(if $(filter 1,$(LINT)),$(VENV)/bin/python tools/lint)
	ORBIVEX_REQUIRE_TYPE_CHECKERS=1 $(VENV)/bin/python -m pytest -q tests

# The benchmarks build their raw C++ loops with CMake (target benchmark_loops, in build/bench).
bench: $(VENV)/bin/python
	$(VENV)/bin/python -m pip install $(PIP_FLAGS) ".[bench]" cmake
	$(VENV)/bin/python benchmarks/run_all.py

clean:
	rm -rf build .venv .venv-* dist
