"""structured.pxd's records, as a Cython module sees them: same layout as the dtypes, so typed
memoryviews of the records accept arrays of the dtypes field for field."""

import numpy as np
import pytest

import orbivex.datamodel.structured as structured
from tests.cython_build import build_consumer, generated_c

CONSUMER = """
from orbivex.datamodel.structured cimport SurfCoord, LLA, GeoState_t, COE_t, ENU_Frame, AER

def sizes():
    return {"SurfCoord_dtype": sizeof(SurfCoord), "LLA_dtype": sizeof(LLA),
            "GeoState_dt": sizeof(GeoState_t), "COE_dt": sizeof(COE_t),
            "ENU_dtype": sizeof(ENU_Frame), "AER_dtype": sizeof(AER)}

def coe_offsets():
    cdef COE_t c
    cdef char* base = <char*>&c
    return [<char*>&c.ecc - base, <char*>&c.sma - base, <char*>&c.inc - base,
            <char*>&c.raa - base, <char*>&c.arp - base, <char*>&c.tra - base,
            <char*>&c.slr - base]

def slr_from_sma_ecc(COE_t[:] recs):
    for i in range(recs.shape[0]):
        recs[i].slr = recs[i].sma * (1.0 - recs[i].ecc * recs[i].ecc)

def up_dot_north(ENU_Frame[:] frames):
    return [f.u_up[0] * f.u_north[0] + f.u_up[1] * f.u_north[1] + f.u_up[2] * f.u_north[2]
            for f in frames]

def geo_alt_dot(GeoState_t[:] g):
    return [r.alt_dot for r in g]

def aer_range(AER[:] a, LLA[:] l, SurfCoord[:] s):
    return [r.range for r in a], [r.alt for r in l], [r.lon for r in s]
"""


@pytest.fixture(scope="module")
def consumer(tmp_path_factory):
    path = tmp_path_factory.mktemp("records_consumer")
    return build_consumer(path, "records_consumer", CONSUMER)


def test_record_sizes_match_the_dtypes(consumer):
    for name, size in consumer.sizes().items():
        assert getattr(structured, name).itemsize == size


def test_coe_offsets_match_the_dtype(consumer):
    dt = structured.COE_dt
    assert consumer.coe_offsets() == [dt.fields[n][1] for n in dt.names]


def test_memoryview_of_coe_records_reads_and_writes_fields(consumer):
    a = np.zeros(3, dtype=structured.COE_dt)
    a["sma"] = [7e6, 8e6, 4.2e7]
    a["ecc"] = [0.0, 0.5, 0.1]
    a["tra"] = [1.0, 2.0, 3.0]
    consumer.slr_from_sma_ecc(a)
    assert a["slr"].tolist() == [7e6, 8e6 * 0.75, 4.2e7 * (1.0 - 0.1 * 0.1)]
    assert a["tra"].tolist() == [1.0, 2.0, 3.0]


def test_other_records_accept_their_dtypes(consumer):
    enu = np.zeros(2, dtype=structured.ENU_dtype)
    enu["u_up"] = [[0, 0, 1], [0, 1, 0]]
    enu["u_north"] = [[0, 1, 0], [0, 1, 0]]
    assert consumer.up_dot_north(enu) == [0.0, 1.0]
    geo = np.zeros(1, dtype=structured.GeoState_dt)
    geo["alt_dot"] = 3.5
    assert consumer.geo_alt_dot(geo) == [3.5]
    aer = np.array([(0.1, 0.2, 1e6)], dtype=structured.AER_dtype)
    lla = np.array([(0.1, 0.2, 400.0)], dtype=structured.LLA_dtype)
    surf = np.array([(0.1, -0.2)], dtype=structured.SurfCoord_dtype)
    assert consumer.aer_range(aer, lla, surf) == ([1e6], [400.0], [-0.2])


@pytest.mark.parametrize(
    "dtype",
    [structured.GeoState_dt, [(n, "f4" if n == "sma" else "f8") for n in structured.COE_dt.names]],
    ids=["six fields", "float32 field"],
)
def test_a_record_of_another_layout_is_refused(consumer, dtype):
    with pytest.raises(ValueError, match="Buffer dtype mismatch"):
        consumer.slr_from_sma_ecc(np.zeros(1, dtype=dtype))


def test_mangled_record_name_in_signature_texts(tmp_path):
    # How a function of another module taking COE_t appears in Cython's signature texts.
    pkg = tmp_path / "inc" / "userpkg"
    pkg.mkdir(parents=True)
    (pkg / "__init__.pxd").write_text("")
    (pkg / "kernels.pxd").write_text(
        "from orbivex.datamodel.structured cimport COE_t\n"
        "cdef int c_use(double* r, COE_t* out) except -1\n"
    )
    c = generated_c(tmp_path, "mangled", "from userpkg.kernels cimport c_use\n", [tmp_path / "inc"])
    assert "int (double *, __pyx_t_7orbivex_9datamodel_10structured_COE_t *)" in c
