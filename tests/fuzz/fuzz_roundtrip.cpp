// OBJ -> KGM -> load: every model the OBJ reader accepts is written as KGM, read back
// and written again byte for byte; its OBJ text reads back to the same faces.
#include <algorithm>
#include <vector>

#include "fuzz_common.h"

namespace {

bool SameFaces(const kgl::TKGLModel& a, const kgl::TKGLModel& b) {
    // Compare the faces in file order, group boundaries aside: the writer may drop
    // groups that hold no face.
    std::vector<const kgl::TFace*> fa, fb;
    for (const auto* m : {&a, &b}) {
        auto& out = m == &a ? fa : fb;
        for (int32_t g = 0; g <= m->gCount; ++g)
            for (int32_t f = 1; f <= m->groups[g].fCount; ++f) out.push_back(&m->groups[g].faces[f]);
    }
    if (fa.size() != fb.size()) return false;
    auto same = [](const kgl::TIndexList& x, const kgl::TIndexList& y) {
        return x.size() == y.size() && std::equal(x.begin(), x.end(), y.begin());
    };
    for (size_t i = 0; i < fa.size(); ++i)
        if (fa[i]->count != fb[i]->count || !same(fa[i]->vIdx, fb[i]->vIdx) || !same(fa[i]->tIdx, fb[i]->tIdx) ||
            !same(fa[i]->nIdx, fb[i]->nIdx))
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kgl;
    fuzz::InstallQuietMessages();
    TKGLModel model;
    if (!LoadOBJFromMemory(model, std::string_view(reinterpret_cast<const char*>(data), size))) return 0;
    Reduce(model, 0.0);  // as LoadFromFile leaves it

    std::string kgm = SaveToKGMBytes(model);
    TKGLModel fromKgm;
    int before = fuzz::MessageCount();
    if (!LoadKGMFromMemory(fromKgm, kgm)) fuzz::Fail("a model read from OBJ saved as KGM that does not load");
    if (fuzz::MessageCount() != before) fuzz::Fail("a KGM load that succeeded showed a message");
    Reduce(fromKgm, 0.0);
    if (SaveToKGMBytes(fromKgm) != kgm) fuzz::Fail("OBJ -> KGM -> load -> KGM is not byte for byte");
    if (!SameFaces(model, fromKgm)) fuzz::Fail("the KGM copy has other faces");

    if (model.fCount >= 1) {
        std::string text = SaveToOBJText(model, "fuzz");
        TKGLModel fromObj;
        if (!LoadOBJFromMemory(fromObj, text)) fuzz::Fail("the OBJ writer wrote text the reader refuses");
        if (!SameFaces(model, fromObj)) fuzz::Fail("OBJ -> write -> read changed the faces");
    }
    return 0;
}
