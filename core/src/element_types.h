#pragma once

#include <cstdint>
#include <string_view>
#include <type_traits>

#include "float16.h"

namespace quellon {

// The eleven element types, each named by its dtype key.
template <class T>
struct ElementTraits;

#define QUELLON_ELEMENT(type, name)                      \
    template <>                                          \
    struct ElementTraits<type> {                         \
        static constexpr std::string_view key = name;    \
    };

QUELLON_ELEMENT(std::int8_t, "int8")
QUELLON_ELEMENT(std::int16_t, "int16")
QUELLON_ELEMENT(std::int32_t, "int32")
QUELLON_ELEMENT(std::int64_t, "int64")
QUELLON_ELEMENT(std::uint8_t, "uint8")
QUELLON_ELEMENT(std::uint16_t, "uint16")
QUELLON_ELEMENT(std::uint32_t, "uint32")
QUELLON_ELEMENT(std::uint64_t, "uint64")
QUELLON_ELEMENT(Float16, "float16")
QUELLON_ELEMENT(float, "float32")
QUELLON_ELEMENT(double, "float64")

#undef QUELLON_ELEMENT

template <class T>
inline constexpr std::string_view dtype_key = ElementTraits<T>::key;

template <class T>
concept IntegerElement = std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char>;

template <class T>
concept FloatElement = std::is_same_v<T, Float16> || std::is_same_v<T, float> || std::is_same_v<T, double>;

template <class... Ts>
struct TypeList {};

using ElementTypes = TypeList<std::int8_t, std::int16_t, std::int32_t, std::int64_t, std::uint8_t, std::uint16_t,
                              std::uint32_t, std::uint64_t, Float16, float, double>;

}  // namespace quellon
