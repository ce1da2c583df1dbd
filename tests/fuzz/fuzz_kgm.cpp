// KGM reader: any bytes either load or are refused with one message, in memory that
// the bytes pay for; a loaded model survives every consumer.
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kgl;
    fuzz::InstallQuietMessages();
    TKGLModel model;
    int before = fuzz::MessageCount();
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    bool loaded = LoadKGMFromMemory(model, bytes);
    fuzz::CheckLoadReport(loaded, before);
    if (!loaded) return 0;
    // A file that loads saves back; saving what we read must reproduce a loadable file.
    std::string again = SaveToKGMBytes(model);
    TKGLModel reread;
    if (!LoadKGMFromMemory(reread, again)) fuzz::Fail("a loaded KGM model saved to bytes that do not load");
    if (SaveToKGMBytes(reread) != again) fuzz::Fail("KGM save -> load -> save is not byte for byte");
    fuzz::ExerciseModel(model);
    return 0;
}
