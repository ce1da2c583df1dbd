#pragma once
// Shared pieces of the fuzz targets: a quiet message service that still checks the
// "one message, one line" rule, and the consumers every loaded model goes through.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "KGLModel.h"
#include "messages.h"
#include "model_json.h"

namespace kgl::fuzz {

// A reader must never report anything that crashes the process, but a finding is
// also a contract break that leaves the process alive; abort so libFuzzer keeps it.
[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "fuzz contract broken: %s\n", what);
    std::abort();
}

inline int& MessageCount() {
    static int count = 0;
    return count;
}

// Messages are counted, not printed: a fuzzer shows thousands of refusals a second.
inline void InstallQuietMessages() {
    static bool done = false;
    if (done) return;
    done = true;
    SetMessageHandler([](const std::string&, const std::string& text) {
        ++MessageCount();
        if (text.empty()) Fail("an empty message");
        if (text.find('\n') != std::string::npos) Fail("a message of more than one line");
    });
}

// Everything kglmodel and the editor do with a model once it is loaded, so that an
// index that a reader let through is caught where a consumer would read with it.
inline void ExerciseModel(TKGLModel& model) {
    for (int32_t e = 0; e <= model.eCount && e < static_cast<int32_t>(model.edges.size()); ++e) {
        (void)EdgeVertexA(model, model.edges[e]);
        (void)EdgeVertexB(model, model.edges[e]);
    }
    (void)InfoText(model, '\n');
    (void)ModelToJson(model);
    (void)SaveToKGMBytes(model);
    (void)SaveToOBJText(model, "fuzz");
    Reduce(model, 0.5);
    (void)ModelToJson(model);
    Reduce(model, 1.0);
    OptimizeTexCoords(model);
    Reduce(model, 0.0);
    (void)SaveToOBJText(model, "fuzz");
}

// The load result must agree with the message service: a refusal shows exactly one
// message, a success none.
inline void CheckLoadReport(bool loaded, int messagesBefore) {
    int shown = MessageCount() - messagesBefore;
    if (loaded && shown != 0) Fail("a successful load showed a message");
    if (!loaded && shown != 1) Fail("a failed load did not show exactly one message");
}

}  // namespace kgl::fuzz
