#include "arg_binding.h"

#include <string>
#include <vector>

namespace quellon::py {
namespace {

std::string quoted_list(const std::vector<std::string_view>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += i + 1 == names.size() ? " and " : ", ";
        out += '\'';
        out += names[i];
        out += '\'';
    }
    return out;
}

void raise_missing(const char* function, const char* kind, const std::vector<std::string_view>& missing) {
    const std::string names = quoted_list(missing);
    PyErr_Format(PyExc_TypeError, "%s missing %zu required %s %s: %s", function, missing.size(), kind,
                 missing.size() == 1 ? "argument" : "arguments", names.c_str());
}

}  // namespace

bool bind_arguments(const char* function, const std::string_view* names, std::size_t count, std::size_t positional,
                    std::size_t required_keyword_only, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    PyObject** slots) {
    for (std::size_t i = 0; i < count; ++i) slots[i] = nullptr;

    if (static_cast<std::size_t>(nargs) > positional) {
        PyErr_Format(PyExc_TypeError, "%s takes %zu positional arguments but %zd were given", function, positional,
                     nargs);
        return false;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = args[i];

    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* name = PyTuple_GET_ITEM(kwnames, k);
        Py_ssize_t len = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(name, &len);
        std::size_t index = count;
        if (utf8) {
            const std::string_view key(utf8, static_cast<std::size_t>(len));
            for (std::size_t i = 0; i < count; ++i) {
                if (names[i] == key) index = i;
            }
        } else {
            PyErr_Clear();  // a name that is not valid UTF-8 names no parameter
        }
        if (index == count) {
            PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", function, name);
            return false;
        }
        if (slots[index]) {
            PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%U'", function, name);
            return false;
        }
        slots[index] = args[nargs + k];
    }

    std::vector<std::string_view> missing;
    for (std::size_t i = 0; i < positional; ++i) {
        if (!slots[i]) missing.push_back(names[i]);
    }
    if (!missing.empty()) {
        raise_missing(function, "positional", missing);
        return false;
    }
    for (std::size_t i = positional; i < positional + required_keyword_only; ++i) {
        if (!slots[i]) missing.push_back(names[i]);
    }
    if (!missing.empty()) {
        raise_missing(function, "keyword", missing);
        return false;
    }
    return true;
}

}  // namespace quellon::py
