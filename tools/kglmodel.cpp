// kglmodel: the editor's command-line companion for inspecting and converting models.
// Exit status: 0 success, 1 input cannot be read or written, 2 wrong usage.
// render and thumbnail run in kglmodel-render beside this program (see cli.h).
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "KGLModel.h"
#include "cli.h"
#include "errors.h"
#include "export.h"
#include "image_decode.h"
#include "import.h"
#include "model_json.h"

namespace {

using namespace kgl::cli;

int Info(const std::vector<std::string>& args) {
    if (args.size() != 2) return Usage("info takes one FILE");
    kgl::TKGLModel model;
    if (!Load(model, args[1])) return 1;
    std::string text = kgl::InfoText(model, '\n');
    std::printf("%s\n", text.c_str());
    return 0;
}

int Dump(const std::vector<std::string>& args) {
    if (args.size() < 2) return Usage("dump takes a FILE");
    TSteps steps;
    std::string why;
    if (!ParseSteps(args, 2, steps, why)) return Usage(why.c_str());
    kgl::TKGLModel model;
    if (!Load(model, args[1])) return 1;
    if (!ApplySteps(model, steps)) return 1;
    std::string json = kgl::ModelToJson(model);
    std::fwrite(json.data(), 1, json.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int Convert(std::vector<std::string> args) {
    if (args.size() < 3) return Usage("convert takes IN and OUT");
    // --as-shown: the model as the reduction shows it instead of the full model
    const bool asShown = std::erase(args, std::string("--as-shown")) > 0;
    // --ascii: the text form of STL and PLY
    const bool ascii = std::erase(args, std::string("--ascii")) > 0;
    TSteps steps;
    std::string why;
    if (!ParseSteps(args, 3, steps, why)) return Usage(why.c_str());
    const std::string& out = args[2];
    std::string ext = kgl::LowerExtension(out);
    if (ext != ".obj" && ext != ".kgm" && !kgl::IsExportedExtension(ext))
        return Usage("OUT must end in .obj, .kgm or an extension kglmodel formats lists as written");
    if (ascii && ext != ".stl" && ext != ".ply") return Usage("--ascii is for .stl and .ply");
    TTerminalProgress progress;
    kgl::TKGLModel model;
    progress.Doing("reading " + args[1]);
    if (!Load(model, args[1])) return 1;
    if (!ApplySteps(model, steps)) return 1;
    if (asShown) {
        progress.Doing("baking the model as shown");
        if (!kgl::BakeReduction(model, model)) return 1;
    }
    progress.Doing("writing " + out);
    if (ext != ".kgm" && model.fCount < 1) {
        std::fprintf(stderr, "kglmodel: %s: the model has no faces, so no %s file is written\n", out.c_str(),
                     ext == ".obj" ? "OBJ" : "such");
        return 1;
    }
    if (ext == ".obj") {
        const int before = MessageCount();
        kgl::SaveToOBJ(model, out);
        return MessageCount() == before ? 0 : 1;
    }
    try {
        if (ext == ".kgm")
            kgl::SaveToKGM(model, out);
        else
            kgl::ExportModelFile(model, out, {ascii});
    } catch (const kgl::EModelError& e) {
        std::fprintf(stderr, "%s\n", kgl::FormatExceptionText(e).c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kglmodel: %s: %s\n", out.c_str(), e.what());
        return 1;
    }
    return 0;
}

int Image(const std::vector<std::string>& args) {
    if (args.size() != 2) return Usage("image takes one FILE");
    kgl::TImage image;
    kgl::TImageRefusal refusal;
    if (!kgl::DecodeImageFile(args[1], image, refusal)) {
        if (refusal.caption.empty() && refusal.message.empty())
            std::fprintf(stderr, "kglmodel: %s: no reader for this extension (.bmp, .jpg or .tga)\n", args[1].c_str());
        else
            std::fprintf(stderr, "%s: %s\n", refusal.caption.c_str(), refusal.message.c_str());
        return 1;
    }
    std::printf("%d %d %d\n", image.width, image.height, image.channels);
    if (image.pixels.size() >= 3) std::printf("%d %d %d\n", image.pixels[0], image.pixels[1], image.pixels[2]);
    return 0;
}

// Replaces this process by kglmodel-render with the arguments from the command
// ("render" or "thumbnail") on; returns only when that fails.
int Render(char** renderArgs) {
    const std::string helper = kgl::ProgramFolder() + "kglmodel-render";
    std::vector<char*> argv{const_cast<char*>(helper.c_str())};
    for (char** a = renderArgs; *a; ++a) argv.push_back(*a);
    argv.push_back(nullptr);
    std::fflush(nullptr);
    execv(helper.c_str(), argv.data());
    std::fprintf(stderr, "kglmodel: %s needs %s: %s\n", renderArgs[0], helper.c_str(), std::strerror(errno));
    return 1;
}

// The extensions read, one a line: ours first, then the importer's; then the extensions
// written; last the protections the importer and the exporter run under here.
int Formats(const std::vector<std::string>& args) {
    if (args.size() != 1) return Usage("formats takes nothing");
    std::printf("read:\nobj\tWavefront OBJ (our reader)\nkgm\tKGM (our reader)\n");
    for (const std::string& ext : kgl::ImportedExtensions())
        std::printf("%s\tthrough kglmodel-import%s\n", ext.c_str() + 1,
                    ext == ".stl" || ext == ".ply" ? " (the binary forms by its own reader)"
                    : ext == ".glb"                ? " (triangle meshes by its own reader)"
                                                   : "");
    std::printf("written:\nobj\tWavefront OBJ (our writer)\nkgm\tKGM (our writer)\n");
    for (const kgl::TExportFormat& format : kgl::ExportFormats()) {
        const bool text = format.extension == ".stl" || format.extension == ".ply";
        std::printf("%s\t%s (%s%s)\n", format.extension.c_str() + 1, format.description.c_str(),
                    format.throughExporter ? "through kglmodel-export" : "our writer", text ? "; --ascii: text" : "");
    }
    std::printf("%s\n", kgl::ImportProtections().c_str());
    return 0;
}

int Dispatch(const std::vector<std::string>& args) {
    if (args.empty()) return Usage(nullptr);
    InstallStderrMessages();
    const std::string& cmd = args[0];
    if (cmd == "info") return Info(args);
    if (cmd == "dump") return Dump(args);
    if (cmd == "convert") return Convert(args);
    if (cmd == "image") return Image(args);
    if (cmd == "formats") return Formats(args);
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        std::fputs(UsageText(), stdout);
        return 0;
    }
    return Usage(("unknown command '" + cmd + "'").c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (std::strcmp(argv[1], "render") == 0 || std::strcmp(argv[1], "thumbnail") == 0))
        return Render(argv + 1);
    return RunGuarded([&] { return Dispatch(std::vector<std::string>(argv + 1, argv + argc)); });
}
