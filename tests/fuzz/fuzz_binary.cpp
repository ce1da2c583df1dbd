// libFuzzer entry: see fuzz_checks.h for what is checked.
#include "fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kgl::fuzz::CheckBinaryReaders(data, size);
    return 0;
}
