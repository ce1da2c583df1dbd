#pragma once
// Between the reduction's derived tables (reduce.cpp) and the operations of the model
// core that change what they are derived from (private to the core).
#include <cstdint>

#include "KGLModel.h"

namespace kgl {

// Drops the reduction's tables: the edge table, the faces' index lists or the texture
// coordinates were replaced. The next Reduce builds them again.
void DropReductionTables(TKGLModel& model);

// Builds the reduction's tables in any case, in one pass over the edges with their
// faces that also finds the first entry with face >= 1 that names no face 1 .. fCount
// of its group, or a corner past that face's vIdx; -1 when every entry is sound (also
// -1, with nothing built, when vCount < 1 or fCount < 1). The KGM reader checks its
// edges this way when it reads for display.
int32_t PrepareReductionFindingBadEdge(TKGLModel& model);

}  // namespace kgl
