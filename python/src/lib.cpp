#define PY_SSIZE_T_CLEAN
#include "numpy_api.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "arg_binding.h"
#include "dispatch.h"
#include "errors.h"
#include "modes.h"
#include "py_ref.h"

namespace quellon::py {
namespace {

constexpr Signature<5> kCastArraySignature{
    "cast_array()",
    {"arr", "target_dtype", "rounding_mode", "out_of_range_mode", "scalar_map_entries"},
    1,
    2,
};

constexpr Signature<5> kCastArrayIntoSignature{
    "cast_array_into()",
    {"arr", "out", "rounding_mode", "out_of_range_mode", "scalar_map_entries"},
    2,
    1,
};

PyArrayObject* array_argument(PyObject* obj, const char* name) {
    if (!ensure_numpy()) return nullptr;
    if (!PyArray_Check(obj)) {
        raise_type_mismatch(obj, kAnyArrayKind, name);
        return nullptr;
    }
    return reinterpret_cast<PyArrayObject*>(obj);
}

// The UTF-8 bytes of a str argument. A lone surrogate has no UTF-8 form; it
// is carried as its surrogatepass bytes, which match no key and come back
// unchanged in a message, and are owned by `holder`.
struct Text {
    PyRef holder;
    std::string_view bytes;
};

std::optional<Text> str_argument(PyObject* obj, const char* name) {
    if (!PyUnicode_Check(obj)) {
        raise_type_mismatch(obj, kStrKind, name);
        return std::nullopt;
    }
    Py_ssize_t size = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &size)) {
        return Text{PyRef(), std::string_view(utf8, static_cast<std::size_t>(size))};
    }
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return std::nullopt;
    PyErr_Clear();
    PyRef bytes = PyRef::steal(PyUnicode_AsEncodedString(obj, "utf-8", "surrogatepass"));
    if (!bytes) return std::nullopt;
    const std::string_view view(PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
    return Text{std::move(bytes), view};
}

// A mode argument: a str whose text names a mode; a text that names none is
// a ValueError, which is no argument-conversion error and has no prefix.
template <class Mode>
std::optional<Mode> mode_argument(PyObject* obj, const char* name,
                                  Result<Mode, std::string> (*parse)(std::string_view)) {
    std::optional<Text> text = str_argument(obj, name);
    if (!text) return std::nullopt;
    Result<Mode, std::string> parsed = parse(text->bytes);
    if (!parsed) {
        raise_text(PyExc_ValueError, parsed.error());
        return std::nullopt;
    }
    return parsed.value();
}

// rounding_mode, out_of_range_mode and scalar_map_entries, in that order.
std::optional<CallModes> modes_arguments(PyObject* rounding, PyObject* out_of_range, PyObject* map_entries) {
    std::optional<RoundingMode> rounding_mode = mode_argument(rounding, "rounding_mode", parse_rounding_mode);
    if (!rounding_mode) return std::nullopt;
    OptionalOutOfRange out_of_range_mode;
    if (out_of_range && out_of_range != Py_None) {
        out_of_range_mode = mode_argument(out_of_range, "out_of_range_mode", parse_out_of_range_mode);
        if (!out_of_range_mode) return std::nullopt;
    }
    return CallModes{*rounding_mode, out_of_range_mode, map_entries == Py_None ? nullptr : map_entries};
}

// The name NumPy gives a built-in numeric descriptor, read off the
// descriptor itself: the `name` property is computed in Python and costs
// more than a whole small cast.
std::optional<std::string_view> builtin_dtype_name(PyArray_Descr* descr) {
    const int typenum = descr->type_num;
    const bool integer = PyTypeNum_ISINTEGER(typenum);
    if (!integer && typenum != NPY_HALF && typenum != NPY_FLOAT && typenum != NPY_DOUBLE) return std::nullopt;
    // A descriptor whose scalar type is not the built-in one is named after
    // that type; leave it to the slow path.
    PyRef builtin = PyRef::steal(reinterpret_cast<PyObject*>(PyArray_DescrFromType(typenum)));
    if (!builtin) {
        PyErr_Clear();
        return std::nullopt;
    }
    if (reinterpret_cast<PyArray_Descr*>(builtin.get())->typeobj != descr->typeobj) return std::nullopt;
    std::optional<std::string_view> name;
    const auto find = [&](auto tag) {
        using T = typename decltype(tag)::type;
        if constexpr (std::is_integral_v<T>) {
            if (integer && PyTypeNum_ISSIGNED(typenum) == std::is_signed_v<T> &&
                PyDataType_ELSIZE(descr) == static_cast<npy_intp>(sizeof(T))) {
                name = dtype_key<T>;
            }
        } else if (NumpyType<T>::typenum == typenum) {
            name = dtype_key<T>;
        }
    };
    [&]<class... Ts>(TypeList<Ts...>) { (find(TypeTag<Ts>{}), ...); }(ElementTypes{});
    return name;
}

// The dtype key of an array from its dtype's name; byte order is not part
// of the name, so a byte-swapped array gets a key and is refused later.
std::optional<std::string> array_dtype_key(PyObject* array) {
    // A plain ndarray's dtype attribute is its descriptor; a subclass may
    // override it, so it is asked in full.
    if (PyArray_CheckExact(array)) {
        if (auto name = builtin_dtype_name(PyArray_DESCR(reinterpret_cast<PyArrayObject*>(array)))) {
            return std::string(*name);
        }
    }
    PyRef dtype = PyRef::steal(PyObject_GetAttrString(array, "dtype"));
    if (!dtype) return std::nullopt;
    PyRef name = PyRef::steal(PyObject_GetAttrString(dtype.get(), "name"));
    if (!name) return std::nullopt;
    PyRef text = PyRef::steal(PyObject_Str(name.get()));
    if (!text) return std::nullopt;
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size);
    if (!utf8) return std::nullopt;
    const std::string_view key(utf8, static_cast<std::size_t>(size));
    if (!visit_element_type(key, [](auto) {})) {
        PyErr_Format(PyExc_TypeError, "Unsupported numpy dtype: %U", text.get());
        return std::nullopt;
    }
    return std::string(key);
}

PyObject* cast_array(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::array<PyObject*, 5> slot{};
    if (!bind_arguments(kCastArraySignature, args, nargs, kwnames, slot)) return nullptr;
    PyArrayObject* arr = array_argument(slot[0], "arr");
    if (!arr) return nullptr;
    std::optional<Text> target = str_argument(slot[1], "target_dtype");
    if (!target) return nullptr;
    std::optional<CallModes> modes = modes_arguments(slot[2], slot[3], slot[4]);
    if (!modes) return nullptr;

    std::optional<std::string> source = array_dtype_key(slot[0]);
    if (!source) return nullptr;
    return dispatch_alloc(arr, *source, target->bytes, *modes);
}

PyObject* cast_array_into(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::array<PyObject*, 5> slot{};
    if (!bind_arguments(kCastArrayIntoSignature, args, nargs, kwnames, slot)) return nullptr;
    PyArrayObject* arr = array_argument(slot[0], "arr");
    if (!arr) return nullptr;
    PyArrayObject* out = array_argument(slot[1], "out");
    if (!out) return nullptr;
    std::optional<CallModes> modes = modes_arguments(slot[2], slot[3], slot[4]);
    if (!modes) return nullptr;

    std::optional<std::string> source = array_dtype_key(slot[0]);
    if (!source) return nullptr;
    std::optional<std::string> target = array_dtype_key(slot[1]);
    if (!target) return nullptr;
    if (!same_shape(arr, out)) {
        raise_shape_mismatch(arr, out);
        return nullptr;
    }
    return dispatch_into(arr, out, *source, *target, *modes);
}

constexpr const char kCastArrayDoc[] =
    "cast_array(arr, *, target_dtype, rounding_mode, out_of_range_mode=None, scalar_map_entries=None)\n"
    "--\n"
    "\n"
    "Cast a numpy array to a new dtype, allocating a new output array.\n"
    "\n"
    "# Arguments\n"
    "\n"
    "* `arr` - Input numpy array\n"
    "* `target_dtype` - Target dtype string (e.g. \"uint8\", \"float32\")\n"
    "* `rounding_mode` - Rounding mode string (e.g. \"nearest-even\")\n"
    "* `out_of_range_mode` - Optional out-of-range handling (\"clamp\" or \"wrap\")\n"
    "* `scalar_map_entries` - Optional list of [source, target] pairs\n"
    "\n"
    "# Returns\n"
    "\n"
    "A new numpy array with the target dtype.\n"
    "\n"
    "# Errors\n"
    "\n"
    "Returns `ValueError` for invalid rounding/out-of-range modes or\n"
    "conversion errors. Returns `TypeError` for unsupported dtypes.";

constexpr const char kCastArrayIntoDoc[] =
    "cast_array_into(arr, out, *, rounding_mode, out_of_range_mode=None, scalar_map_entries=None)\n"
    "--\n"
    "\n"
    "Cast a numpy array into a pre-allocated output array.\n"
    "\n"
    "# Arguments\n"
    "\n"
    "* `arr` - Input numpy array\n"
    "* `out` - Pre-allocated output numpy array (must match input shape)\n"
    "* `rounding_mode` - Rounding mode string (e.g. \"nearest-even\")\n"
    "* `out_of_range_mode` - Optional out-of-range handling (\"clamp\" or \"wrap\")\n"
    "* `scalar_map_entries` - Optional list of [source, target] pairs\n"
    "\n"
    "# Returns\n"
    "\n"
    "None on success.\n"
    "\n"
    "# Errors\n"
    "\n"
    "Returns `ValueError` for shape mismatch, invalid modes, or conversion\n"
    "errors. Returns `TypeError` for unsupported dtypes.";

PyMethodDef kMethods[] = {
    {"cast_array", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(cast_array)),
     METH_FASTCALL | METH_KEYWORDS, kCastArrayDoc},
    {"cast_array_into", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(cast_array_into)),
     METH_FASTCALL | METH_KEYWORDS, kCastArrayIntoDoc},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef kModule = {PyModuleDef_HEAD_INIT, "_quellon", "", -1, nullptr, nullptr, nullptr, nullptr, nullptr};

bool add_exported_function(PyObject* module, PyMethodDef* def) {
    PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
    if (!module_name) return false;
    PyRef function = PyRef::steal(PyCFunction_NewEx(def, nullptr, module_name.get()));
    if (!function) return false;
    if (PyModule_AddObjectRef(module, def->ml_name, function.get()) < 0) return false;

    PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();
        all = PyRef::steal(PyList_New(0));
        if (!all || PyModule_AddObjectRef(module, "__all__", all.get()) < 0) return false;
    }
    PyRef name = PyRef::steal(PyUnicode_FromString(def->ml_name));
    return name && PyList_Append(all.get(), name.get()) == 0;
}

}  // namespace
}  // namespace quellon::py

PyMODINIT_FUNC PyInit__quellon() {
    using namespace quellon::py;
    PyRef module = PyRef::steal(PyModule_Create(&kModule));
    if (!module) return nullptr;
    for (PyMethodDef* def = kMethods; def->ml_name; ++def) {
        if (!add_exported_function(module.get(), def)) return nullptr;
    }
    return module.release();
}
