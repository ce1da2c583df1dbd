// OBJ reader: any bytes either load or are refused with one message; a loaded model
// survives every consumer.
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kgl;
    fuzz::InstallQuietMessages();
    TKGLModel model;
    int before = fuzz::MessageCount();
    bool loaded = LoadOBJFromMemory(model, std::string_view(reinterpret_cast<const char*>(data), size));
    fuzz::CheckLoadReport(loaded, before);
    if (loaded) fuzz::ExerciseModel(model);
    return 0;
}
