#include "image_decode.h"
namespace kgl {
bool DecodeImageFile(const std::string&, TImage&, TImageRefusal&) { return false; }
}  // namespace kgl
