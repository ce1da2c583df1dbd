#pragma once
// Writing models in the formats people take them on in. STL, PLY and OFF are written by
// the model core's own writers (formats_out.cpp); glTF, COLLADA and FBX by
// kglmodel-export, a program of ours beside the caller that links the Open Asset Import
// Library's exporters. It runs as a child process in the importer's sandbox and under
// limits (import.h), gets the geometry laid out for its format (GeometryToWrite) and
// writes no file: it hands the file it made back, and the caller writes it beside its
// target and renames it over the target once complete. A crash, a
// limit or a forbidden call inside the exporter costs a message, never the caller or a
// file of the user's.
//
// The mapping (the import's, reversed, so that the file imports to the same model):
//  - glTF (.glb, .gltf), COLLADA (.dae) and FBX (.fbx): every group that has faces one
//    mesh under one node named after the group (empty groups are left out), one
//    default material; positions, and the normals and texture coordinates of the
//    groups whose every corner has them, with one vertex for every distinct position,
//    normal and texture coordinate a corner names;
//  - glTF holds triangles only: a face of more corners goes as the fan of triangles
//    from its first corner (its orientation kept); COLLADA and FBX keep polygons;
//  - glTF through tinygltf (tools/geometry_gltf.h): .glb holds its buffer, a .gltf file
//    embeds it as a data URI, so that the file stands alone; FBX is written in its text
//    form (values with 6 decimals, as OBJ);
//  - STL, PLY and OFF: see SaveToSTL, SaveToPLY and SaveToOFF (KGLModel.h).
#include <string>
#include <vector>

#include "KGLModel.h"

namespace kgl {

// A format written here besides OBJ and KGM.
struct TExportFormat {
    std::string extension;    // lower case with its dot
    std::string description;  // for lists and file dialogs
    bool throughExporter;     // by kglmodel-export, else by our own writer
};
// In the order offered: .glb, .gltf, .stl, .ply, .off, .dae, .fbx.
const std::vector<TExportFormat>& ExportFormats();
// True when ExportModelFile writes files of this lower-cased extension (dot included).
bool IsExportedExtension(const std::string& ext);

struct TExportOptions {
    bool ascii = false;  // STL and PLY in their text forms
};

// Writes model to path in the format of its lower-cased extension (one of
// ExportFormats), the whole model whatever the reduction shows (bake it first for the
// model as shown). Throws EModelError located `in "PATH"`: EInOutError when a file
// cannot be written or the exporter fails (with what it said), ERangeError for a model
// beyond the format, EConvertError for an extension not written here; ECancelled when
// the progress service asks to stop. An existing file at path is replaced only once
// the new one is complete.
void ExportModelFile(const TKGLModel& model, const std::string& path, const TExportOptions& options = {});

// For tests: the exporter program to run (empty: kglmodel-export beside the running
// program).
void SetExporterProgram(const std::string& path);
// For benchmarks: path written by kglmodel-export's format exporter (say "glb2", the
// library's own glTF exporter) with the geometry laid out as for path's extension.
void ExportModelFileThrough(const TKGLModel& model, const std::string& path, const std::string& exporter);

}  // namespace kgl
