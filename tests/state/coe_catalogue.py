"""The coe module's catalogues, as the test-only module orbivex._testing.testing_coe shows them,
and the lists the tests take from them instead of typing them again."""

from orbivex._testing.testing_coe import catalogue

MODULE = catalogue["module"]
FUNCTIONS = catalogue["functions"]  # the Python functions, in order of creation
EXPORTS = catalogue["exports"]  # the native table after `_2pi`, in publication order
TWO_PI = catalogue["two_pi"]  # (name, signature text) of the variable published first

FUNCTION_NAMES = [f["name"] for f in FUNCTIONS]
# The Python functions by form: size (a size and GM), anomaly (two anomaly-or-eccentricity
# arguments; "anomaly_bound" ones go through the bound angle function, which can fail), and
# the two state-vector functions.
SIZE = [f["name"] for f in FUNCTIONS if f["form"] == "size"]
ANOMALY = [f["name"] for f in FUNCTIONS if f["form"] in ("anomaly", "anomaly_bound")]
BOUND_ANOMALY = [f["name"] for f in FUNCTIONS if f["form"] == "anomaly_bound"]

# The published table as `table()` of tests.capsules gives it: {name: signature text}.
TABLE = {TWO_PI[0]: TWO_PI[1], **{e["name"]: e["signature"] for e in EXPORTS}}


def entries(*forms):
    """Names of the published functions of the given forms, in table order."""
    return [e["name"] for e in EXPORTS if e["form"] in forms]
