// _quellon_probe: a test-only module that reports which kernel tier and which
// binary16 route the conversion core chose in this process. It links the same
// core library as _quellon and is never installed into the wheel.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstdint>
#include <span>

#include "float16_impls.h"
#include "simd/cpu_features.h"
#include "simd/kernels.h"

namespace {

PyObject* probe_cpu_features(PyObject*, PyObject*) {
    const quellon::CpuFeatures& f = quellon::cpu_features();
    return Py_BuildValue("{s:O,s:O,s:O}", "avx", f.avx ? Py_True : Py_False, "avx2_tier",
                         f.avx2_tier ? Py_True : Py_False, "f16c", f.f16c ? Py_True : Py_False);
}

PyObject* probe_kernel_tier(PyObject*, PyObject*) {
    switch (quellon::select_kernel_tier(quellon::cpu_features())) {
        case quellon::KernelTier::Avx2: return PyUnicode_FromString("avx2");
        case quellon::KernelTier::Avx: return PyUnicode_FromString("avx");
        case quellon::KernelTier::Generic: return PyUnicode_FromString("generic");
    }
    PyErr_SetString(PyExc_RuntimeError, "unknown kernel tier");
    return nullptr;
}

PyObject* probe_float16_route(PyObject*, PyObject*) {
    return PyUnicode_FromString(quellon::float16_route::f16c_available() ? "f16c" : "soft");
}

// Whether a run was taken by a tier or declined; a clean run cannot fail,
// so an error here is a fault of the kernel.
int add_handled(PyObject* dict, const char* name, const quellon::KernelResult& r) {
    if (!r.ok()) {
        PyErr_Format(PyExc_RuntimeError, "%s failed on a clean run: %s", name, r.error().message().c_str());
        return -1;
    }
    return PyDict_SetItemString(dict, name, r.value() ? Py_True : Py_False);
}

// Offers one small clean run to every entry point and reports which were handled.
PyObject* probe_kernels_handled(PyObject*, PyObject*) {
    constexpr std::size_t n = 21;  // whole blocks plus a remainder on every tier
    std::array<float, n> f32{};
    std::array<double, n> f64{};
    for (std::size_t i = 0; i < n; ++i) {
        f32[i] = static_cast<float>(i);
        f64[i] = static_cast<double>(i);
    }
    std::array<std::uint8_t, n> u8{};
    std::array<std::int16_t, n> i16{};
    std::array<std::uint16_t, n> u16{};
    std::array<std::int32_t, n> i32{};
    std::array<float, n> out32{};
    const auto mode = quellon::RoundingMode::NearestEven;

    PyObject* dict = PyDict_New();
    if (dict == nullptr) return nullptr;
    if (add_handled(dict, "try_f32_to_u8_clamp",
                    quellon::try_f32_to_u8_clamp(std::span<const float>(f32), std::span(u8), mode)) < 0 ||
        add_handled(dict, "try_f64_to_u8_clamp",
                    quellon::try_f64_to_u8_clamp(std::span<const double>(f64), std::span(u8), mode)) < 0 ||
        add_handled(dict, "try_f64_to_i32_clamp",
                    quellon::try_f64_to_i32_clamp(std::span<const double>(f64), std::span(i32), mode)) < 0 ||
        add_handled(dict, "try_f64_to_i32_check",
                    quellon::try_f64_to_i32_check(std::span<const double>(f64), std::span(i32), mode)) < 0 ||
        add_handled(dict, "try_f64_to_f32_nearest",
                    quellon::try_f64_to_f32_nearest(std::span<const double>(f64), std::span(out32), true)) < 0 ||
        add_handled(dict, "try_f32_to_i16_clamp",
                    quellon::try_f32_to_i16_clamp(std::span<const float>(f32), std::span(i16), mode)) < 0 ||
        add_handled(dict, "try_f32_to_u16_clamp",
                    quellon::try_f32_to_u16_clamp(std::span<const float>(f32), std::span(u16), mode)) < 0 ||
        add_handled(dict, "try_i32_to_u8_clamp",
                    quellon::try_i32_to_u8_clamp(std::span<const std::int32_t>(i32), std::span(u8))) < 0) {
        Py_DECREF(dict);
        return nullptr;
    }
    return dict;
}

PyMethodDef probe_methods[] = {
    {"cpu_features", probe_cpu_features, METH_NOARGS, "The processor features the core decoded."},
    {"kernel_tier", probe_kernel_tier, METH_NOARGS, "The kernel tier: 'avx2', 'avx' or 'generic'."},
    {"float16_route", probe_float16_route, METH_NOARGS, "The binary16 route: 'f16c' or 'soft'."},
    {"kernels_handled", probe_kernels_handled, METH_NOARGS,
     "Entry-point name to whether a clean run was handled by a tier."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef probe_module = {
    PyModuleDef_HEAD_INIT, "_quellon_probe", "", -1, probe_methods, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__quellon_probe() { return PyModule_Create(&probe_module); }
