#pragma once

#include <Python.h>

#include <optional>
#include <utility>
#include <vector>

#include "element_types.h"
#include "extract.h"
#include "py_ref.h"
#include "scalar_map.h"

namespace quellon::py {

// "scalar_map {source|target} value {repr}: expected a value convertible to
// {source|target} dtype {key}", replacing whatever the conversion raised.
inline void raise_map_value_error(const char* side, PyObject* value, std::string_view key) {
    PyErr_Clear();
    PyRef text = PyRef::steal(PyObject_Repr(value));
    if (!text) {
        PyErr_Clear();
        text = PyRef::steal(PyObject_Str(value));
        if (!text) return;  // both raised: the exception from str() stands
    }
    PyErr_Format(PyExc_TypeError, "scalar_map %s value %U: expected a value convertible to %s dtype %.*s", side,
                 text.get(), side, static_cast<int>(key.size()), key.data());
}

template <class S, class T>
bool append_entry(ScalarMap<S, T>& map, PyObject* source, PyObject* target_or_null, PyObject* item) {
    std::optional<S> s = extract_from_py<S>(source);
    if (!s) {
        raise_map_value_error("source", source, dtype_key<S>);
        return false;
    }
    // A sequence entry's second element is fetched only once the first converted.
    PyRef fetched;
    PyObject* target = target_or_null;
    if (!target) {
        PyRef one = PyRef::steal(PyLong_FromLong(1));
        if (!one) return false;
        fetched = PyRef::steal(PyObject_GetItem(item, one.get()));
        if (!fetched) return false;
        target = fetched.get();
    }
    std::optional<T> t = extract_from_py<T>(target);
    if (!t) {
        raise_map_value_error("target", target, dtype_key<T>);
        return false;
    }
    map.add(*s, *t);
    return true;
}

// Reads a dict in its own insertion order (regardless of any iteration a
// subclass overrides), holding its own references while the caller's code
// runs; a dict whose keys change meanwhile fails the call.
template <class S, class T>
bool read_dict(PyObject* dict, ScalarMap<S, T>& map) {
    std::vector<std::pair<PyRef, PyRef>> entries;
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(dict, &pos, &key, &value)) entries.emplace_back(PyRef::borrow(key), PyRef::borrow(value));

    for (const auto& [k, v] : entries) {
        if (!append_entry(map, k.get(), v.get(), nullptr)) return false;
        if (PyDict_Size(dict) != static_cast<Py_ssize_t>(entries.size())) {
            PyErr_SetString(PyExc_RuntimeError, "scalar_map_entries changed size while it was read");
            return false;
        }
    }
    pos = 0;
    for (const auto& [k, v] : entries) {
        if (!PyDict_Next(dict, &pos, &key, &value) || key != k.get()) {
            PyErr_SetString(PyExc_RuntimeError, "scalar_map_entries changed its keys while it was read");
            return false;
        }
    }
    return true;
}

template <class S, class T>
bool read_iterable(PyObject* entries, ScalarMap<S, T>& map) {
    PyRef iterator = PyRef::steal(PyObject_GetIter(entries));
    if (!iterator) {
        PyErr_Clear();
        PyErr_SetString(PyExc_TypeError, "scalar_map_entries must be a dict or an iterable of (source, target) pairs");
        return false;
    }
    PyRef zero = PyRef::steal(PyLong_FromLong(0));
    if (!zero) return false;
    while (PyRef item = PyRef::steal(PyIter_Next(iterator.get()))) {
        const Py_ssize_t length = PyObject_Size(item.get());
        if (length != 2) {
            if (length < 0) PyErr_Clear();
            PyErr_SetString(PyExc_ValueError, "Each scalar_map entry must be a (source, target) pair");
            return false;
        }
        PyRef source = PyRef::steal(PyObject_GetItem(item.get(), zero.get()));
        if (!source) return false;
        if (!append_entry(map, source.get(), nullptr, item.get())) return false;
    }
    return !PyErr_Occurred();
}

// The scalar_map_entries object (null when absent or None) as the pair's
// typed map, or nullopt with a Python exception set.
template <class S, class T>
std::optional<ScalarMap<S, T>> parse_map_entries(PyObject* entries) {
    ScalarMap<S, T> map;
    if (!entries) return map;
    const bool ok = PyDict_Check(entries) ? read_dict(entries, map) : read_iterable(entries, map);
    if (!ok) return std::nullopt;
    return map;
}

}  // namespace quellon::py
