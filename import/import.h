#pragma once
// Opening models of any format. OBJ and KGM go to the model core's own readers; every
// other format is read by kglmodel-import, a program of ours beside the caller that links
// the Open Asset Import Library (and has readers of its own for binary STL and PLY) and
// hands over the geometry it read (geometry.h). It runs as a child process in a sandbox
// and under limits, and its geometry is checked as strictly as a KGM file before the
// caller builds the model on every core, so a crash, a hang, an exhausted limit or a
// forbidden system call inside the importer costs a message, never the caller, the
// user's files or the model on display.
#include <cstdint>
#include <string>
#include <vector>

#include "KGLModel.h"

namespace kgl {

// Extensions read through the importer, lower case with their dot (".gltf", ".glb",
// ".fbx", ...), sorted; .obj and .kgm are not among them.
const std::vector<std::string>& ImportedExtensions();
// True when LoadModelFile reads files of this lower-cased extension (dot included).
bool IsReadableExtension(const std::string& ext);

// Loads path by its lower-cased extension: ".obj" and ".kgm" exactly as LoadFromFile;
// an imported extension through kglmodel-import, then the finishing steps of an OBJ load
// and Reduce(model, 0.0) (ReadGeometry). false for any other extension (no message) or a missing file
// (no message); false with the "Exception Name: ..." message and a second line
// `in "PATH"` when the file cannot be read. The model on display is replaced only on
// success. Progress and cancellation go through the progress service (progress.h).
bool LoadModelFile(TKGLModel& model, const std::string& path);

// The limits kglmodel-import runs under. The child is killed when it passes one, and the
// load fails with a message that names the limit.
struct TImportLimits {
    uint64_t addressSpace = 0;  // bytes of address space
    uint32_t cpuSeconds = 0;    // processor time
    uint32_t wallSeconds = 0;   // time from start to end, however the child spends it
};
// The limits for a file of fileBytes: 1 GiB of address space and 96 bytes more per byte
// of the file (the library builds its whole scene, with one of its own vertices per
// corner, beside our welded model), at most 64 GiB; 20 s of processor time and 1 s more
// per MiB, at most an hour; twice that, and 10 s, of wall-clock time.
TImportLimits ImportLimitsFor(uint64_t fileBytes);

// The folder of the running program with its trailing separator (empty when unknown),
// where kglmodel-import and the other programs of the build lie side by side.
std::string ProgramFolder();

// For tests: the importer program to run (empty: kglmodel-import beside the running
// program) and the limits to use instead of ImportLimitsFor, for the importer and the
// exporter (all zero: computed).
void SetImporterProgram(const std::string& path);
void SetImportLimits(const TImportLimits& limits);

// The sandbox the importer runs in (import/sandbox.h): everything this kernel offers
// (kFull, always, outside tests and benchmarks), the system-call filter and the limits
// alone (as on a kernel without Landlock), or the limits alone (to measure what the
// sandbox costs).
enum class TSandboxMode { kFull, kWithoutLandlock, kOff };
void SetImportSandbox(TSandboxMode mode);
// One line saying which protections an import runs under on this kernel.
std::string ImportProtections();

}  // namespace kgl
