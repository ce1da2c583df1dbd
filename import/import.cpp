#include "import.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "errors.h"
#include "files.h"
#include "geometry.h"
#include "import_run.h"
#include "mapped_file.h"
#include "messages.h"
#include "reporting.h"
#include "sandbox.h"

namespace kgl {

namespace {

std::string& ImporterProgram() {
    static std::string program;
    return program;
}

TImportLimits& FixedLimits() {
    static TImportLimits limits;
    return limits;
}

TSandboxMode& Sandbox() {
    static TSandboxMode mode = TSandboxMode::kFull;
    return mode;
}

// Unmaps the hand-over on a thread of its own, so that the caller goes on meanwhile: the
// last mapping of the memory file gives back its pages, as many as the model's own
// tables hold, and freeing them on the caller's thread took some 3% of a large import.
// Here, at once, when no thread can be started.
void UnmapBeside(std::unique_ptr<TMappedFile> mapping) {
    try {
        std::thread([m = std::move(mapping)] {}).detach();
    } catch (const std::exception&) {  // no thread, or no memory for one
    }
}

// Imports path into fresh; false when there is no such file. Failures are thrown.
bool Import(TKGLModel& fresh, const std::string& path, std::vector<std::string>& warnings) {
    uint64_t size = 0;
    const int fd = OpenRegularFile(path, size);
    if (fd < 0) return false;
    close(fd);
    const TImportLimits limits = ChildLimits(size);
    const std::string program = ImporterProgram().empty() ? ProgramFolder() + "kglmodel-import" : ImporterProgram();
    TChildCall call;
    call.program = program;
    call.args = {path};
    call.readable = path;
    // the model is built while the child ends, and kept only when the run then passes;
    // it is finished while the hand-over is given back
    std::unique_ptr<TMappedFile> handedOver;
    const TImportRun run = RunChild(call, limits, ChildSandbox(), [&](int geometry) {
        handedOver = std::make_unique<TMappedFile>(geometry);
        ReadGeometryUnfinished(handedOver->Bytes(), fresh);
    });
    UnmapBeside(std::move(handedOver));
    CheckImportRun(run, limits);
    FinishOBJ(fresh);
    Reduce(fresh, 0.0);
    warnings = run.warnings;
    return true;
}

}  // namespace

const std::vector<std::string>& ImportedExtensions() {
    // what the Open Asset Import Library of Debian reads as polygon meshes
    static const std::vector<std::string> extensions = [] {
        std::vector<std::string> list = {".3ds",  ".3mf", ".ac",   ".ase",     ".b3d", ".cob", ".dae", ".dxf",
                                         ".fbx",  ".glb", ".gltf", ".irrmesh", ".lwo", ".md2", ".md3", ".md5mesh",
                                         ".ms3d", ".nff", ".off",  ".ogex",    ".ply", ".q3o", ".smd", ".stl",
                                         ".x",    ".x3d", ".xgl",  ".zae",     ".zgl"};
        std::sort(list.begin(), list.end());
        return list;
    }();
    return extensions;
}

bool IsReadableExtension(const std::string& ext) {
    if (ext == ".obj" || ext == ".kgm") return true;
    const auto& list = ImportedExtensions();
    return std::binary_search(list.begin(), list.end(), ext);
}

TImportLimits ImportLimitsFor(uint64_t fileBytes) {
    constexpr uint64_t kMiB = uint64_t(1) << 20;
    TImportLimits limits;
    limits.addressSpace = std::min<uint64_t>((uint64_t(1) << 30) + 96 * fileBytes, uint64_t(64) << 30);
    limits.cpuSeconds = static_cast<uint32_t>(std::min<uint64_t>(20 + fileBytes / kMiB, 3600));
    limits.wallSeconds = 2 * limits.cpuSeconds + 10;
    return limits;
}

std::string ProgramFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string() + "/";
}

void SetImporterProgram(const std::string& path) { ImporterProgram() = path; }

void SetImportLimits(const TImportLimits& limits) { FixedLimits() = limits; }

void SetImportSandbox(TSandboxMode mode) { Sandbox() = mode; }

TSandboxMode ChildSandbox() { return Sandbox(); }

TImportLimits ChildLimits(uint64_t bytes) { return FixedLimits().wallSeconds ? FixedLimits() : ImportLimitsFor(bytes); }

std::string ImportProtections() { return ProtectionsLine(); }

bool LoadModelFile(TKGLModel& model, const std::string& path) {
    const std::string ext = LowerExtension(path);
    if (ext == ".obj" || ext == ".kgm") return LoadFromFile(model, path);
    if (!IsReadableExtension(ext)) return false;
    TKGLModel fresh;
    bool found = false;
    std::vector<std::string> warnings;
    const bool ok = ReportFailure([&] { found = Import(fresh, path, warnings); }, path);
    if (!ok || !found) return false;
    TakeLoadedModel(model, fresh);
    for (const std::string& w : warnings) ShowMessage(w, "Import");
    return true;
}

}  // namespace kgl
