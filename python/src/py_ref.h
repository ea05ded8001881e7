#pragma once

#include <Python.h>

#include <utility>

namespace quellon::py {

// Owns one strong reference; releases it on every way out of a scope.
class PyRef {
public:
    PyRef() = default;
    // Takes over a new reference (null allowed: a failed call).
    static PyRef steal(PyObject* obj) { return PyRef(obj); }
    static PyRef borrow(PyObject* obj) {
        Py_XINCREF(obj);
        return PyRef(obj);
    }

    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    PyRef(PyRef&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
    PyRef& operator=(PyRef&& other) noexcept {
        if (this != &other) {
            Py_XDECREF(obj_);
            obj_ = std::exchange(other.obj_, nullptr);
        }
        return *this;
    }
    ~PyRef() { Py_XDECREF(obj_); }

    PyObject* get() const { return obj_; }
    explicit operator bool() const { return obj_ != nullptr; }
    // Hands the reference to the caller.
    PyObject* release() { return std::exchange(obj_, nullptr); }

private:
    explicit PyRef(PyObject* obj) : obj_(obj) {}
    PyObject* obj_ = nullptr;
};

}  // namespace quellon::py
