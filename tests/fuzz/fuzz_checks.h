#pragma once
// What every reader promises for any bytes at all, as checks that the libFuzzer targets
// (fuzz_*.cpp) and the replay of the corpus and the regression inputs (hardening_tests)
// share. A broken promise calls the installed failure handler: abort() by default, so
// libFuzzer keeps the input; the tests install one that throws.
#include <cstddef>
#include <cstdint>
#include <string>

namespace kgl::fuzz {

using TFailHandler = void (*)(const char* what);
void SetFailHandler(TFailHandler handler);

// OBJ bytes either load (no message) or are refused with exactly one one-line message;
// a loaded model goes through every consumer kglmodel and the editor have.
void CheckObjInput(const uint8_t* data, size_t size);
// The same for KGM bytes; a loaded model also saves back to bytes that load and save
// byte for byte.
void CheckKgmInput(const uint8_t* data, size_t size);
// OBJ bytes that load go OBJ -> KGM -> load -> KGM byte for byte with the same faces,
// and OBJ -> write -> read with the same faces.
void CheckRoundTrip(const uint8_t* data, size_t size);
// The editor's and kglmodel's side of a kglmodel-import run: any bytes the child may
// write to its standard output and error, any way it may end, and any geometry it may
// hand over, give either the model (through the checking reader) or one failure of one
// line without the child's control bytes.
void CheckImportBoundary(const uint8_t* data, size_t size);
// The importer's own readers of binary STL and PLY: any bytes are not theirs, or read to
// geometry the caller takes, or fail with a reason.
void CheckBinaryReaders(const uint8_t* data, size_t size);
// Image bytes for the decoder of extension (".bmp", ".tga", ".jpg") either decode to a
// buffer holding every byte OpenGL reads at the image's unpack alignment, or are
// refused with a caption and a one-line message.
void CheckImageInput(const std::string& extension, const uint8_t* data, size_t size);

}  // namespace kgl::fuzz
