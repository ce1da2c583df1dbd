// One image decoder (the extension KGL_FUZZ_EXT picks it): any bytes either decode to
// a buffer that holds every texel OpenGL will read, or are refused with a caption and
// a one-line message.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "image_decode.h"

#ifndef KGL_FUZZ_EXT
#error "KGL_FUZZ_EXT names the extension of the decoder under test"
#endif

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz contract broken: %s\n", what);
    std::abort();
}

// The decoders read files; a file in memory-backed /dev/shm keeps an execution cheap.
const std::string& ScratchPath() {
    static const std::string path = [] {
        const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        return std::string(dir) + "/kgl-fuzz-" + std::to_string(getpid()) + KGL_FUZZ_EXT;
    }();
    return path;
}

struct TRemoveAtExit {
    ~TRemoveAtExit() { std::remove(ScratchPath().c_str()); }
} removeAtExit;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(ScratchPath().c_str(), "wb");
    if (!f) Fail("cannot write the scratch file");
    if (size && std::fwrite(data, 1, size, f) != size) Fail("cannot write the scratch file");
    std::fclose(f);

    kgl::TImage image;
    kgl::TImageRefusal refusal;
    if (!kgl::DecodeImageFile(ScratchPath(), image, refusal)) {
        if (refusal.caption.empty() || refusal.message.empty()) Fail("a refusal without caption or message");
        if (refusal.message.find('\n') != std::string::npos) Fail("a refusal message of more than one line");
        return 0;
    }
    if (image.width < 1 || image.height < 1 || image.width > 65535 || image.height > 65535)
        Fail("a decoded image with an impossible size");
    if (image.channels != 3 && image.channels != 4) Fail("a decoded image with neither 3 nor 4 channels");
    size_t texels = size_t(image.width) * size_t(image.height) * size_t(image.channels);
    if (image.pixels.size() < texels) Fail("a pixel buffer smaller than the texels OpenGL reads");
    return 0;
}
