#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <string_view>

namespace quellon::py {

// One function's parameters: the first `positional` may be given by
// position or name, the rest only by name; the first `required` of the
// keyword-only ones must be given.
template <std::size_t N>
struct Signature {
    const char* function;  // "cast_array()"
    std::array<std::string_view, N> names;
    std::size_t positional;
    std::size_t required_keyword_only;
};

// Binds fast-call arguments to parameter slots (borrowed; null = not
// passed) with the interpreter's own binding messages. Returns false with
// a TypeError set.
bool bind_arguments(const char* function, const std::string_view* names, std::size_t count, std::size_t positional,
                    std::size_t required_keyword_only, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    PyObject** slots);

template <std::size_t N>
bool bind_arguments(const Signature<N>& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    std::array<PyObject*, N>& slots) {
    return bind_arguments(sig.function, sig.names.data(), N, sig.positional, sig.required_keyword_only, args, nargs,
                          kwnames, slots.data());
}

}  // namespace quellon::py
