#include "KGLModel.h"
#include "reduction_tables.h"
#include "reporting.h"

namespace kgl {

std::string ShortString(std::string_view text, size_t maxLength) { return std::string(text.substr(0, maxLength)); }

std::string LowerExtension(const std::string& fileName) {
    const size_t slash = fileName.find_last_of("/\\");
    const size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = fileName.substr(dot);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

void ClearEdgeSelection(TKGLModel& model) { std::vector<TBool>().swap(model.edgeSel); }

void InitModel(TKGLModel& model) {
    model.selColor = {1.0f, 0.0f, 0.0f, 1.0f};
    model.wireColor = {1.0f, 0.82f, 0.0f, 1.0f};
    model.unselColor = {0.7f, 0.7f, 0.7f, 1.0f};
    model.name.clear();
    model.vCount = model.nCount = model.tCount = model.gCount = model.fCount = model.eCount = 0;
    // swap with empties so the storage is really given back
    decltype(model.vertices)().swap(model.vertices);
    decltype(model.normals)().swap(model.normals);
    decltype(model.texCoords)().swap(model.texCoords);
    decltype(model.groups)().swap(model.groups);
    decltype(model.edges)().swap(model.edges);
    model.boxMin = {kBoxResetMin, kBoxResetMin, kBoxResetMin};
    model.boxMax = {kBoxResetMax, kBoxResetMax, kBoxResetMax};
    model.minArea = kAreaResetMin;
    model.maxArea = kAreaResetMax;
    ClearEdgeSelection(model);
    DropReductionTables(model);
}

void AllocateModel(TKGLModel& model) {
    DropReductionTables(model);
    auto slots = [](int32_t count) { return count + 2 > 0 ? static_cast<size_t>(count) + 2 : size_t(0); };
    ResizeFaultedIn(model.vertices, slots(model.vCount));
    ResizeFaultedIn(model.normals, slots(model.nCount));
    ResizeFaultedIn(model.texCoords, slots(model.tCount));
    model.groups.resize(slots(model.gCount));
    for (int32_t g = 0; g <= model.gCount; ++g) {
        TGroup& group = model.groups[g];
        ResizeFaultedIn(group.faces, slots(group.fCount));
        group.boxMin = {kBoxResetMin, kBoxResetMin, kBoxResetMin};
        group.boxMax = {kBoxResetMax, kBoxResetMax, kBoxResetMax};
    }
}

void TakeLoadedModel(TKGLModel& model, TKGLModel& fresh) {
    fresh.groupSel = std::move(model.groupSel);
    fresh.faceSel = std::move(model.faceSel);
    fresh.edgeSel.clear();
    fresh.drawCount = model.drawCount;
    std::swap(model, fresh);
}

void FreeModel(TKGLModel& model) {
    InitModel(model);
    model.vCount = model.nCount = model.tCount = model.gCount = model.fCount = model.eCount = -1;
    std::vector<TBool>().swap(model.edgeSel);
    std::vector<TBool>().swap(model.groupSel);
    std::vector<TBool>().swap(model.faceSel);
}

}  // namespace kgl
