#include "export.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "errors.h"
#include "file_set.h"
#include "files.h"
#include "geometry.h"
#include "import_run.h"
#include "mapped_file.h"

namespace kgl {

namespace {

// How a format is written: by our own writer (no exporter) or by kglmodel-export as that
// format, with the geometry laid out so.
struct TWay {
    TExportFormat format;
    const char* exporter;
    TWriteLayout layout;
};

constexpr TWriteLayout kPolygons{false, TWriteLayout::kPerGroup}, kTriangles{true, TWriteLayout::kPerGroup};

const std::vector<TWay>& Ways() {
    static const std::vector<TWay> ways = {
        {{".glb", "glTF 2.0, binary", true}, "glb", kTriangles},
        {{".gltf", "glTF 2.0, its buffer embedded (a data URI)", true}, "gltf", kTriangles},
        {{".stl", "STL, binary", false}, nullptr, {}},
        {{".ply", "PLY, binary little-endian", false}, nullptr, {}},
        {{".off", "OFF", false}, nullptr, {}},
        {{".dae", "COLLADA", true}, "collada", kPolygons},
        {{".fbx", "FBX, text", true}, "fbxa", kPolygons},
    };
    return ways;
}

const TWay* WayOf(const std::string& ext) {
    for (const TWay& way : Ways())
        if (way.format.extension == ext) return &way;
    return nullptr;
}

std::string& ExporterProgram() {
    static std::string program;
    return program;
}

// The geometry in a sealed memory file, for the exporter's descriptor 4.
TOwnedFd GeometryFile(const TGeometry& geometry) {
    TOwnedFd fd(static_cast<int>(syscall(SYS_memfd_create, "kgl-export", MFD_CLOEXEC | MFD_ALLOW_SEALING)));
    if (fd.Get() < 0) throw EInOutError(std::string("Cannot hand the model to the exporter: ") + strerror(errno));
    WriteGeometry(geometry, fd.Get());
    constexpr int kSeals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL;
    if (fcntl(fd.Get(), F_ADD_SEALS, kSeals) != 0)
        throw EInOutError(std::string("Cannot hand the model to the exporter: ") + strerror(errno));
    return fd;
}

// The file the exporter made, beside its target and renamed over it once complete.
void WriteFile(std::string_view handed, const std::string& path) {
    const std::string name = std::filesystem::path(path).filename().string();
    const auto files = ReadFileSet(handed);
    for (const auto& [file, bytes] : files)
        if (file != name)
            throw EInOutError("The exporter made a file \"" + QuoteText(file, 255) + "\" it was not asked for");
    if (files.size() != 1) throw EInOutError("The exporter made " + std::to_string(files.size()) + " files, not one");
    TSafeFile file(path);
    TOutput out(file.File(), path);
    out.Bytes(files[0].second.data(), files[0].second.size());
    out.Flush();
    file.Commit();
}

void ExportThroughChild(const TKGLModel& model, const std::string& path, const TWay& way) {
    const TGeometry geometry = GeometryToWrite(model, way.layout);
    if (geometry.faces.empty()) throw EInOutError("The model has no face to write");
    if (geometry.positions.size() / 3 > static_cast<size_t>(kCountMax))
        throw ERangeError("The model has more vertices than a file can hold here");
    const TOwnedFd input = GeometryFile(geometry);
    const uint64_t bytes = 4 * (geometry.positions.size() + geometry.normals.size() + geometry.texCoords.size() +
                                geometry.faces.size() + geometry.vIdx.size());
    const TImportLimits limits = ChildLimits(bytes);
    TChildCall call;
    call.program = ExporterProgram().empty() ? ProgramFolder() + "kglmodel-export" : ExporterProgram();
    call.args = {way.exporter, std::filesystem::path(path).filename().string()};
    call.input = input.Get();
    call.who = "exporter";
    const TImportRun run = RunChild(call, limits, ChildSandbox());
    CheckImportRun(run, limits, call.who);
    const TMappedFile handed(run.handedOver.Get());
    WriteFile(handed.Bytes(), path);
}

}  // namespace

const std::vector<TExportFormat>& ExportFormats() {
    static const std::vector<TExportFormat> formats = [] {
        std::vector<TExportFormat> list;
        for (const TWay& way : Ways()) list.push_back(way.format);
        return list;
    }();
    return formats;
}

bool IsExportedExtension(const std::string& ext) { return WayOf(ext) != nullptr; }

void ExportModelFile(const TKGLModel& model, const std::string& path, const TExportOptions& options) {
    LocatedAt(PlaceOf(path), [&] {
        const std::string ext = LowerExtension(path);
        const TWay* way = WayOf(ext);
        if (!way) throw EConvertError("No format is written for the extension \"" + QuoteText(ext, 40) + "\"");
        if (ext == ".stl") return SaveToSTL(model, path, options.ascii);
        if (ext == ".ply") return SaveToPLY(model, path, options.ascii);
        if (ext == ".off") return SaveToOFF(model, path);
        ExportThroughChild(model, path, *way);
    });
}

void SetExporterProgram(const std::string& path) { ExporterProgram() = path; }

void ExportModelFileThrough(const TKGLModel& model, const std::string& path, const std::string& exporter) {
    LocatedAt(PlaceOf(path), [&] {
        const TWay* way = WayOf(LowerExtension(path));
        if (!way || !way->exporter) throw EConvertError("No exporter writes the extension of this file");
        TWay through = *way;
        through.exporter = exporter.c_str();
        ExportThroughChild(model, path, through);
    });
}

}  // namespace kgl
