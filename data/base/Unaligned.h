#pragma once

#include <cstring>

namespace sorvanto {

// A value at any address of a byte buffer: a fetch buffer, a parameter message, a stored row.
template <typename T> T Load(const unsigned char* at) noexcept {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

template <typename T> void Store(unsigned char* at, T value) noexcept {
    std::memcpy(at, &value, sizeof value);
}

} // namespace sorvanto
