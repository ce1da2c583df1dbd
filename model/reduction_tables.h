#pragma once
// Between the reduction's derived tables (reduce.cpp) and the operations of the model
// core that change what they are derived from (private to the core).
#include <cstdint>

#include "KGLModel.h"

namespace kgl {

// Drops the reduction's tables: the edge table, the faces' index lists or the texture
// coordinates were replaced. The next Reduce builds them again.
void DropReductionTables(TKGLModel& model);

}  // namespace kgl
