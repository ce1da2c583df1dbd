// libFuzzer entry for the image decoder that KGL_FUZZ_EXT names: see fuzz_checks.h.
#include "fuzz_checks.h"

#ifndef KGL_FUZZ_EXT
#error "KGL_FUZZ_EXT names the extension of the decoder under test"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kgl::fuzz::CheckImageInput(KGL_FUZZ_EXT, data, size);
    return 0;
}
