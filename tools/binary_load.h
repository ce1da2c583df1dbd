#pragma once
// What the readers of binary_readers.h share: values loaded from a file's bytes, which
// hold them in the host's order (little-endian), at any alignment, and how often they
// report progress.
#include <cstdint>
#include <cstring>

namespace kgl::binary {

constexpr uint64_t kProgressStep = uint64_t(1) << 16;

template <class T>
T Load(const char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace kgl::binary
