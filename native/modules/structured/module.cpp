// orbivex.datamodel.structured: builds the package's record dtypes, the twins of records.hpp.
#include <Python.h>

#include <array>
#include <span>

#include "kernels/records.hpp"
#include "support/imports.hpp"
#include "support/module.hpp"
#include "support/ref.hpp"

namespace {

using orbivex::py::Ref;

struct Field {
    const char* name;
    const char* type;  ///< attribute of the module-level `numpy`
    bool vector;       ///< a subarray of shape (3,)
};

struct Record {
    const char* dtype_name;
    std::span<const Field> fields;
};

constexpr Field surf_coord_fields[] = {{"lat", "double", false}, {"lon", "double", false}};
constexpr Field lla_fields[] = {
    {"lat", "double", false}, {"lon", "double", false}, {"alt", "double", false}};
constexpr Field enu_fields[] = {
    {"u_east", "double", true}, {"u_north", "double", true}, {"u_up", "double", true}};
constexpr Field aer_fields[] = {
    {"azimuth", "double", false}, {"elevation", "double", false}, {"range", "double", false}};
constexpr Field dtf_fields[] = {{"year", "uint16", false},  {"month", "uint8", false},
                                {"day", "uint8", false},    {"hour", "uint8", false},
                                {"minute", "uint8", false}, {"second", "double", false}};
constexpr Field geo_state_fields[] = {{"lat", "double", false},     {"lon", "double", false},
                                      {"alt", "double", false},     {"lat_dot", "double", false},
                                      {"lon_dot", "double", false}, {"alt_dot", "double", false}};
constexpr Field coe_fields[] = {{"ecc", "double", false}, {"sma", "double", false},
                                {"inc", "double", false}, {"raa", "double", false},
                                {"arp", "double", false}, {"tra", "double", false},
                                {"slr", "double", false}};

// Built and bound in this order.
constexpr Record records[] = {
    {"SurfCoord_dtype", surf_coord_fields},
    {"LLA_dtype", lla_fields},
    {"ENU_dtype", enu_fields},
    {"AER_dtype", aer_fields},
    {"DTF_dtype", dtf_fields},
    {"GeoState_dt", geo_state_fields},
    {"COE_dt", coe_fields},
};

/// `dtype(fields)` with each field type read from the module-level `numpy` now.
Ref build_dtype(PyObject* module, const Record& record) {
    Ref np = Ref::steal(PyObject_GetAttrString(module, "numpy"));
    Ref dtype = Ref::steal(PyObject_GetAttrString(module, "dtype"));
    if (!np || !dtype) return {};
    Ref fields = Ref::steal(PyList_New(static_cast<Py_ssize_t>(record.fields.size())));
    if (!fields) return {};
    Py_ssize_t i = 0;
    for (const Field& f : record.fields) {
        Ref type = Ref::steal(PyObject_GetAttrString(np.get(), f.type));
        if (!type) return {};
        Ref item = f.vector ? Ref::steal(Py_BuildValue("(sO(i))", f.name, type.get(), 3))
                            : Ref::steal(Py_BuildValue("(sO)", f.name, type.get()));
        if (!item) return {};
        PyList_SET_ITEM(fields.get(), i++, item.release());
    }
    return Ref::steal(PyObject_CallOneArg(dtype.get(), fields.get()));
}

struct structured_module {
    static constexpr const char name[] = "structured";
    static constexpr const char doc[] =
        "Record dtypes of orbivex, each laid out like a native record of the package:\n"
        "SurfCoord_dtype, LLA_dtype, ENU_dtype, AER_dtype, DTF_dtype, GeoState_dt, COE_dt.";

    static int exec(PyObject* module) noexcept {
        Ref np = Ref::steal(PyImport_ImportModule("numpy"));
        if (!np || PyModule_AddObjectRef(module, "numpy", np.get()) < 0) return -1;
        // As `from numpy import dtype`: a missing name is an ImportError.
        Ref dtype = orbivex::py::import_name(np.get(), "numpy", "dtype",
                                             orbivex::py::MissingName::ImportError, false);
        if (!dtype || PyModule_AddObjectRef(module, "dtype", dtype.get()) < 0) return -1;
        for (const Record& record : records) {
            Ref built = build_dtype(module, record);
            if (!built || PyModule_AddObjectRef(module, record.dtype_name, built.get()) < 0)
                return -1;
        }
        return 0;
    }
};

}  // namespace

PyMODINIT_FUNC PyInit_structured() { return orbivex::py::Module<structured_module>::init(); }
