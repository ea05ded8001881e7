#pragma once

// From the two dtype keys to the typed driver of the pair.

#include <string_view>

#include "drivers.h"

namespace quellon::py {

template <class T>
struct TypeTag {
    using type = T;
};

// Calls f(TypeTag<T>{}) for the element type whose key is `key`; false when
// no element type has that key.
template <class F, class... Ts>
bool visit_element_type(std::string_view key, TypeList<Ts...>, F&& f) {
    return ((key == dtype_key<Ts> ? (f(TypeTag<Ts>{}), true) : false) || ...);
}

template <class F>
bool visit_element_type(std::string_view key, F&& f) {
    return visit_element_type(key, ElementTypes{}, std::forward<F>(f));
}

inline void raise_unsupported(const char* which, std::string_view key) {
    PyObject* text = PyUnicode_DecodeUTF8(key.data(), static_cast<Py_ssize_t>(key.size()), "surrogatepass");
    if (!text) return;
    PyErr_Format(PyExc_TypeError, "Unsupported %s dtype: %U", which, text);
    Py_DECREF(text);
}

// Calls f(TypeTag<S>, TypeTag<T>) for the pair, or raises for an unknown key.
template <class F>
PyObject* dispatch_pair(std::string_view source_key, std::string_view target_key, F&& f) {
    PyObject* result = nullptr;
    bool target_known = true;
    const bool source_known = visit_element_type(source_key, [&](auto source) {
        target_known = visit_element_type(target_key, [&](auto target) { result = f(source, target); });
    });
    if (!source_known) {
        raise_unsupported("source", source_key);
    } else if (!target_known) {
        raise_unsupported("target", target_key);
    }
    return result;
}

inline PyObject* dispatch_alloc(PyArrayObject* arr, std::string_view source_key, std::string_view target_key,
                                const CallModes& modes) {
    return dispatch_pair(source_key, target_key, [&](auto source, auto target) {
        return cast_alloc<typename decltype(source)::type, typename decltype(target)::type>(arr, modes);
    });
}

inline PyObject* dispatch_into(PyArrayObject* arr, PyArrayObject* out, std::string_view source_key,
                               std::string_view target_key, const CallModes& modes) {
    return dispatch_pair(source_key, target_key, [&](auto source, auto target) {
        return cast_into<typename decltype(source)::type, typename decltype(target)::type>(arr, out, modes);
    });
}

}  // namespace quellon::py
