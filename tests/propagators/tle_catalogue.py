"""The tle module's catalogue, as the test-only module orbivex._testing.testing_tle shows it, and
the lists the tests take from it instead of typing them again."""

from orbivex._testing.testing_tle import catalogue

TLE = catalogue["TLE"]
ELSET = catalogue["ELSET"]
ELEMENTS = catalogue["elements"]  # in the order of TLE's fields

# (name, docstring or None) of every property, in the order each type lists them.
TLE_PROPERTIES = TLE["properties"]
ELSET_PROPERTIES = ELSET["properties"]
# The elements: TLE's float properties in field order, and ELSET's arrays in their own order.
ELEMENT_NAMES = [e["name"] for e in ELEMENTS]
ELSET_ARRAYS = [e["name"] for e in sorted(ELEMENTS, key=lambda e: e["place"])]
# The titles of the two element tables of TLE's text, in the order the text shows them.
TEXT_TABLES = catalogue["tables"]


def text_rows(title):
    """The elements the table `title` of TLE's text shows, in row order."""
    return sorted((e for e in ELEMENTS if e["table"] == title), key=lambda e: e["row"])
