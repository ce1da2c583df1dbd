#include "fuzz_checks.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "KGLModel.h"
#include "binary_readers.h"
#include "errors.h"
#include "file_set.h"
#include "geometry.h"
#include "image_decode.h"
#include "import_run.h"
#include "messages.h"
#include "model_json.h"

namespace kgl::fuzz {

namespace {

TFailHandler g_fail = nullptr;

// scripts/fuzz.sh picks this phrase out of the fuzzer's log for its summary.
void Fail(const char* what) {
    if (g_fail) g_fail(what);
    std::fprintf(stderr, "reader promise broken: %s\n", what);
    std::abort();
}

int g_messages = 0;

// Messages are counted, not printed: a fuzzer sees thousands of refusals a second.
// Installed for each check so a test's own recorder does not stay in the way.
struct TQuietMessages {
    TMessageHandler previous;
    TQuietMessages() {
        previous = SetMessageHandler([](const std::string&, const std::string& text) {
            ++g_messages;
            // The quoted text may hold the file's own control bytes; kglmodel and the
            // message box show them on one line, so only an empty text is a fault.
            if (text.empty()) Fail("an empty message");
        });
    }
    ~TQuietMessages() { SetMessageHandler(std::move(previous)); }
};

std::string_view Bytes(const uint8_t* data, size_t size) {
    return std::string_view(reinterpret_cast<const char*>(data), size);
}

// A refusal shows exactly one message, a success none.
void CheckLoadReport(bool loaded, int messagesBefore) {
    int shown = g_messages - messagesBefore;
    if (loaded && shown != 0) Fail("a successful load showed a message");
    if (!loaded && shown != 1) Fail("a failed load did not show exactly one message");
}

// Everything kglmodel and the editor do with a loaded model, so that an index a reader
// let through is caught where a consumer reads with it.
void ExerciseModel(TKGLModel& model) {
    for (int32_t e = 0; e <= model.eCount && e < static_cast<int32_t>(model.edges.size()); ++e) {
        (void)EdgeVertexA(model, model.edges[e]);
        (void)EdgeVertexB(model, model.edges[e]);
    }
    (void)InfoText(model, '\n');
    (void)ModelToJson(model);
    (void)SaveToOBJText(model, "fuzz");
    Reduce(model, 0.5);
    (void)ModelToJson(model);
    Reduce(model, 1.0);
    OptimizeTexCoords(model);
    OrderEdgesByError(model);
    Reduce(model, 0.5);
    Reduce(model, 0.0);
    (void)SaveToKGMBytes(model);
    (void)SaveToOBJText(model, "fuzz");
    // the model cut into triangles, reduced, ordered and written again
    TTriangulation cut;
    if (!TriangulateFaces(model, &cut) || cut.split == 0) return;
    for (int32_t g = 0; g <= model.gCount; ++g)
        for (int32_t f = 1; f <= model.groups[g].fCount; ++f)
            if (model.groups[g].faces[f].count > 3) Fail("a face of more than three corners after the triangulation");
    Reduce(model, 0.5);
    OrderEdgesByError(model);
    Reduce(model, 0.9);
    (void)ModelToJson(model);
    (void)SaveToKGMBytes(model);
}

// The faces in file order; group boundaries aside, since a writer may drop groups that
// hold no face. withoutCorners false leaves out faces of no corner, which OBJ text has
// no line for (a bare "f" does not read back).
bool SameFaces(const TKGLModel& a, const TKGLModel& b, bool withoutCorners = true) {
    auto faces = [withoutCorners](const TKGLModel& m) {
        std::vector<const TFace*> out;
        for (int32_t g = 0; g <= m.gCount; ++g)
            for (int32_t f = 1; f <= m.groups[g].fCount; ++f)
                if (withoutCorners || m.groups[g].faces[f].count > 0) out.push_back(&m.groups[g].faces[f]);
        return out;
    };
    std::vector<const TFace*> fa = faces(a), fb = faces(b);
    if (fa.size() != fb.size()) return false;
    for (size_t i = 0; i < fa.size(); ++i)
        if (fa[i]->count != fb[i]->count || !(fa[i]->vIdx == fb[i]->vIdx) || !(fa[i]->tIdx == fb[i]->tIdx) ||
            !(fa[i]->nIdx == fb[i]->nIdx))
            return false;
    return true;
}

// Loads through load, checking its report: a message exactly when it fails.
bool LoadChecked(bool (*load)(TKGLModel&, std::string_view), TKGLModel& model, const uint8_t* data, size_t size) {
    const int before = g_messages;
    const bool loaded = load(model, Bytes(data, size));
    CheckLoadReport(loaded, before);
    return loaded;
}

}  // namespace

void SetFailHandler(TFailHandler handler) { g_fail = handler; }

void CheckObjInput(const uint8_t* data, size_t size) {
    TQuietMessages quiet;
    TKGLModel model;
    if (LoadChecked(LoadOBJFromMemory, model, data, size)) ExerciseModel(model);
}

void CheckKgmInput(const uint8_t* data, size_t size) {
    TQuietMessages quiet;
    TKGLModel model;
    const bool loaded = LoadChecked(LoadKGMFromMemory, model, data, size);
    // the display load: the same verdict, and when it loads, the plain load reduced at
    // full detail
    TKGLModel shown;
    const bool shownLoaded = LoadChecked(LoadKGMFromMemoryAtFullDetail, shown, data, size);
    if (shownLoaded != loaded) Fail("the display load of a KGM file and the plain one disagree");
    if (!loaded) return;
    {
        TKGLModel reduced = model;
        Reduce(reduced, 0.0);
        if (SaveToKGMBytes(shown) != SaveToKGMBytes(reduced)) Fail("the display load is not the load reduced at 0");
    }
    std::string again = SaveToKGMBytes(model);
    TKGLModel reread;
    if (!LoadKGMFromMemory(reread, again)) Fail("a loaded KGM model saves to bytes that do not load");
    if (SaveToKGMBytes(reread) != again) Fail("KGM load -> save -> load -> save is not byte for byte");
    ExerciseModel(model);
}

void CheckRoundTrip(const uint8_t* data, size_t size) {
    TQuietMessages quiet;
    TKGLModel model;
    if (!LoadOBJFromMemory(model, Bytes(data, size))) return;
    Reduce(model, 0.0);  // as LoadFromFile leaves it

    std::string kgm = SaveToKGMBytes(model);
    TKGLModel fromKgm;
    int before = g_messages;
    if (!LoadKGMFromMemory(fromKgm, kgm)) Fail("a model read from OBJ saves as KGM that does not load");
    CheckLoadReport(true, before);
    Reduce(fromKgm, 0.0);
    if (SaveToKGMBytes(fromKgm) != kgm) Fail("OBJ -> KGM -> load -> KGM is not byte for byte");
    if (!SameFaces(model, fromKgm)) Fail("the KGM copy has other faces");

    if (model.fCount >= 1) {
        std::string text = SaveToOBJText(model, "fuzz");
        TKGLModel fromObj;
        if (!LoadOBJFromMemory(fromObj, text)) Fail("the OBJ writer wrote text the reader refuses");
        if (!SameFaces(model, fromObj, false)) Fail("OBJ -> write -> read changed the faces");
    }
}

void CheckImportBoundary(const uint8_t* data, size_t size) {
    TQuietMessages quiet;
    if (size < 3) return;
    TImportRun run;
    run.exited = data[0] % 4 != 1;
    run.timedOut = data[0] % 4 == 3;
    run.exitCode = run.exited ? data[1] : 0;
    run.signal = run.exited ? 0 : data[1] % 65;
    const size_t piece = data[2] % 17 + 1;
    std::string_view rest = Bytes(data + 3, size - 3);
    // what the child wrote: standard output, standard error, then its KGM
    auto take = [&rest] {
        const size_t at = rest.find("\n--\n");
        const std::string_view part = rest.substr(0, at);
        rest = at == std::string_view::npos ? std::string_view() : rest.substr(at + 4);
        return part;
    };
    std::string_view out = take();
    run.errorText = std::string(take().substr(0, kImportErrorTextMax));
    const std::string_view geometry = rest;
    TImportOutput reader;
    for (; !out.empty(); out.remove_prefix(std::min(piece, out.size())))
        reader.Feed(out.substr(0, piece), run, [](uint64_t done, uint64_t total) {
            if (done > total) Fail("progress beyond its total");
        });
    if (run.warnings.size() > kImportWarningsMax) Fail("more warnings than kept");
    auto oneLine = [](const std::string& text, size_t most) {
        if (text.empty() || text.size() > most) Fail("an import text empty or too long");
        for (const char c : text)
            if (static_cast<unsigned char>(c) < 0x20) Fail("a control byte of the child reached the caller's text");
    };
    for (const std::string& w : run.warnings) oneLine(w, 4 * 200 + 3);  // each byte escaped at most
    try {
        CheckImportRun(run, TImportLimits{uint64_t(1) << 30, 20, 50}, data[0] & 4 ? "exporter" : "importer");
        if (!(run.exited && run.exitCode == 0)) Fail("a failed run passed as written");
    } catch (const EModelError& e) {
        if (run.exited && run.exitCode == 0) Fail("a run that wrote its model failed");
        oneLine(e.what(), 4 * 300 + 100);
        return;
    }
    // as the exporter's files: names of files only, contents within the bytes
    try {
        for (const auto& [name, bytes] : ReadFileSet(geometry)) {
            if (name.empty() || name.size() > kFileSetNameMax || name.find('/') != std::string::npos || name == "." ||
                name == "..")
                Fail("a file set passed a name that is no file's");
            if (bytes.data() < geometry.data() || bytes.data() + bytes.size() > geometry.data() + geometry.size())
                Fail("a file of the set lies outside the bytes");
        }
    } catch (const EModelError& e) {
        oneLine(e.what(), 4 * 255 + 200);
    }
    // what a successful child handed over goes through the checking reader
    TKGLModel model;
    try {
        ReadGeometry(geometry, model);
    } catch (const EModelError& e) {
        oneLine(e.what(), 4 * 300 + 200);
        return;
    }
    ExerciseModel(model);
}

void CheckBinaryReaders(const uint8_t* data, size_t size) {
    TQuietMessages quiet;
    const std::string_view bytes = Bytes(data, size);
    for (const int reader : {0, 1, 2}) {
        TGeometry geometry;
        TSceneSkipped skipped;
        TBinaryRead read = TBinaryRead::kNotMine;
        try {
            read = reader == 0   ? ReadBinarySTL(bytes, geometry, nullptr)
                   : reader == 1 ? ReadBinaryPLY(bytes, geometry, skipped, nullptr)
                                 : ReadBinaryGLB(bytes, geometry, nullptr);
        } catch (const EModelError& e) {
            if (std::string_view(e.what()).empty()) Fail("a binary reader failed without a reason");
            continue;
        }
        if (read == TBinaryRead::kNotMine) continue;
        // what our readers hand over, the caller takes
        TKGLModel model;
        try {
            ReadGeometry(GeometryBytes(geometry), model);
        } catch (const EModelError&) {
            Fail("the caller refuses what a binary reader handed over");
        }
        if (model.fCount < 1) Fail("a binary reader read a model without faces");
    }
}

void CheckImageInput(const std::string& extension, const uint8_t* data, size_t size) {
    TImage image;
    TImageRefusal refusal;
    const std::string name = "fuzz" + extension;
    std::string_view bytes = Bytes(data, size);
    bool decoded = false;
    if (extension == ".bmp")
        decoded = DecodeBMP(bytes, name, image, refusal);
    else if (extension == ".tga")
        decoded = DecodeTGA(bytes, name, image, refusal);
    else if (extension == ".jpg")
        decoded = DecodeJPG(bytes, name, image, refusal);
    else
        Fail("no decoder for this extension");
    if (!decoded) {
        if (refusal.caption.empty() || refusal.message.empty()) Fail("a refusal without caption or message");
        if (refusal.message.find_first_of("\r\n") != std::string::npos) Fail("a refusal message of more than one line");
        return;
    }
    if (image.width < 1 || image.height < 1 || image.width > 65535 || image.height > 65535)
        Fail("a decoded image with an impossible size");
    if (image.channels != 3 && image.channels != 4) Fail("a decoded image with neither 3 nor 4 channels");
    if (image.alignment != 1 && image.alignment != 4)
        Fail("a decoded image with an unpack alignment other than 1 or 4");
    // What glTexImage2D / gluBuild2DMipmaps read: every row but the last at the padded
    // stride, the last one unpadded.
    const size_t row = size_t(image.width) * size_t(image.channels);
    const size_t stride = (row + size_t(image.alignment) - 1) / size_t(image.alignment) * size_t(image.alignment);
    if (image.pixels.size() < stride * (size_t(image.height) - 1) + row)
        Fail("a pixel buffer smaller than what OpenGL reads");
}

}  // namespace kgl::fuzz
