// Texture-coordinate rewriting: one table entry per distinct (u, v) that a face uses,
// numbered in the order of first use (groups 0 .. gCount, faces 1 .. fCount, tIdx
// entries in order, hidden faces included).
//
// Lookup: the values are numbered by TWeld (weld.h), whose equality is that of the
// numbers, so -0 is keyed as +0 and a NaN (equal to nothing, not even itself) always
// gets an entry of its own, exactly as a search of the table would.
#include <algorithm>
#include <cstring>
#include <vector>

#include "KGLModel.h"
#include "face_table.h"
#include "reduction_tables.h"
#include "weld.h"

namespace kgl {

void OptimizeTexCoords(TKGLModel& model) {
    const int64_t lastOld = std::min<int64_t>(model.tCount, static_cast<int64_t>(model.texCoords.size()) - 1);
    // An index outside the old table has no coordinate to read; it is taken as the
    // zero coordinate (0, 0) with target -1, so it still ends on a valid new entry.
    const TTexCoord outside{0.0f, 0.0f, kTargetFree};

    size_t corners = 0;
    ForEachFace(model, 1, [&](TGroup&, int32_t, const TFace& face, int32_t) { corners += face.tIdx.size(); });

    TWeld<2> weld(std::min<size_t>(corners, static_cast<size_t>(lastOld + 2)));
    std::vector<int32_t> targets;  // of the first record of each value, which is kept whole
    targets.reserve(std::min<size_t>(corners, static_cast<size_t>(lastOld + 2)));
    ForEachFace(model, 1, [&](TGroup&, int32_t, TFace& face, int32_t) {
        for (int32_t& entry : face.tIdx) {
            const TTexCoord& c = entry >= 0 && entry <= lastOld ? model.texCoords[static_cast<size_t>(entry)] : outside;
            const uint32_t number = weld.Add({c.u, c.v});
            if (number == targets.size()) targets.push_back(c.target);  // a value first seen
            entry = static_cast<int32_t>(number) + 1;
        }
    });

    model.tCount = static_cast<int32_t>(weld.Count());
    decltype(model.texCoords) table(weld.Count() + 2);  // slots 0 and tCount + 1: the spares, zero
    for (size_t i = 0; i < weld.Count(); ++i) table[i + 1] = {weld.Values()[i][0], weld.Values()[i][1], targets[i]};
    model.texCoords = std::move(table);
    DropReductionTables(model);  // the texture pairs of the edges were renumbered
}

}  // namespace kgl

namespace kgl {

TTexCoordState SaveTexCoordState(const TKGLModel& model) {
    TTexCoordState state;
    state.tCount = model.tCount;
    state.texCoords = model.texCoords;
    size_t corners = 0;
    ForEachFace(model, 1, [&](const TGroup&, int32_t, const TFace& face, int32_t) { corners += face.tIdx.size(); });
    state.tIdx.reserve(corners);
    ForEachFace(model, 1, [&](const TGroup&, int32_t, const TFace& face, int32_t) {
        state.tIdx.insert(state.tIdx.end(), face.tIdx.begin(), face.tIdx.end());
    });
    return state;
}

bool RestoreTexCoordState(TKGLModel& model, const TTexCoordState& state) {
    size_t corners = 0;
    ForEachFace(model, 1, [&](const TGroup&, int32_t, const TFace& face, int32_t) { corners += face.tIdx.size(); });
    if (corners != state.tIdx.size()) return false;
    const int32_t* from = state.tIdx.data();
    ForEachFace(model, 1, [&](TGroup&, int32_t, TFace& face, int32_t) {
        std::copy(from, from + face.tIdx.size(), face.tIdx.begin());
        from += face.tIdx.size();
    });
    model.tCount = state.tCount;
    model.texCoords = state.texCoords;
    DropReductionTables(model);  // the texture pairs of the edges changed back
    return true;
}

bool SameTexCoordState(const TKGLModel& model, const TTexCoordState& state) {
    if (model.tCount != state.tCount || model.texCoords.size() != state.texCoords.size()) return false;
    // bit for bit: a NaN coordinate equals itself here
    if (!state.texCoords.empty() &&
        std::memcmp(model.texCoords.data(), state.texCoords.data(), state.texCoords.size() * sizeof(TTexCoord)) != 0)
        return false;
    size_t at = 0;
    bool same = true;
    ForEachFace(model, 1, [&](const TGroup&, int32_t, const TFace& face, int32_t) {
        if (!same || at + face.tIdx.size() > state.tIdx.size() ||
            !std::equal(face.tIdx.begin(), face.tIdx.end(), state.tIdx.begin() + static_cast<ptrdiff_t>(at)))
            same = false;
        at += face.tIdx.size();
    });
    return same && at == state.tIdx.size();
}

}  // namespace kgl
