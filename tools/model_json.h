#pragma once
// The whole model as one JSON object (the `kglmodel dump` format): keys in a fixed
// order, float32 values with %.9g, doubles with %.17g, non-finite values as the
// strings "nan", "inf", "-inf".
#include <string>

#include "KGLModel.h"

namespace kgl {

std::string ModelToJson(const TKGLModel& model);

}  // namespace kgl
