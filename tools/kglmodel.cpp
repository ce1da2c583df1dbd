// kglmodel: the editor's command-line companion for inspecting and converting models.
// Exit status: 0 success, 1 input cannot be read or written, 2 wrong usage.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "KGLModel.h"
#include "errors.h"
#include "image_decode.h"
#include "messages.h"
#include "model_json.h"

namespace {

constexpr const char* kUsage =
    "usage: kglmodel info FILE\n"
    "       kglmodel dump FILE [--optimize-texcoords] [--reduce FRACTION]\n"
    "       kglmodel convert IN OUT [--optimize-texcoords] [--reduce FRACTION]\n"
    "       kglmodel image FILE\n";

int Usage(const char* why) {
    if (why) std::fprintf(stderr, "kglmodel: %s\n", why);
    std::fputs(kUsage, stderr);
    return 2;
}

// Messages of the model core go to standard error, one line each, and are counted so
// that a failure reported only by a message still gives exit status 1.
int g_messages = 0;

void InstallStderrMessages() {
    kgl::SetMessageHandler([](const std::string& caption, const std::string& text) {
        ++g_messages;
        // one line, and a load failure's second one saying where; no other line break
        // (a quoted path may hold one) splits the message
        std::string line = caption.empty() ? text : caption + ": " + text;
        const size_t where = line.rfind("\nin ");
        for (size_t i = 0; i < line.size(); ++i)
            if ((line[i] == '\n' || line[i] == '\r') && i != where) line[i] = ' ';
        std::fprintf(stderr, "%s\n", line.c_str());
    });
}


bool FileExists(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}

struct TSteps {
    bool optimize = false;
    bool reduce = false;
    double fraction = 0;
};

// Parses the options after the positional arguments; false on wrong usage.
bool ParseSteps(const std::vector<std::string>& args, size_t from, TSteps& steps, std::string& why) {
    for (size_t i = from; i < args.size(); ++i) {
        if (args[i] == "--optimize-texcoords") {
            steps.optimize = true;
        } else if (args[i] == "--reduce") {
            if (i + 1 >= args.size()) {
                why = "--reduce needs a FRACTION";
                return false;
            }
            const std::string& text = args[++i];
            double value = 0;
            auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
            if (ec != std::errc() || end != text.data() + text.size() || !(value == value)) {
                why = "'" + text + "' is not a FRACTION";
                return false;
            }
            steps.reduce = true;
            steps.fraction = value;
        } else {
            why = "unknown option '" + args[i] + "'";
            return false;
        }
    }
    return true;
}

// Loads path as the editor does; false (with a one-line reason on standard error) when
// it cannot be read.
bool Load(kgl::TKGLModel& model, const std::string& path) {
    std::string ext = kgl::LowerExtension(path);
    if (ext != ".obj" && ext != ".kgm") {
        std::fprintf(stderr, "kglmodel: %s: not a model file (the extension must be .obj or .kgm)\n", path.c_str());
        return false;
    }
    if (!FileExists(path)) {
        std::fprintf(stderr, "kglmodel: %s: cannot open the file\n", path.c_str());
        return false;
    }
    int before = g_messages;
    if (kgl::LoadFromFile(model, path)) return true;
    if (g_messages == before) std::fprintf(stderr, "kglmodel: %s: the model could not be read\n", path.c_str());
    return false;
}

void ApplySteps(kgl::TKGLModel& model, const TSteps& steps) {
    if (steps.optimize) kgl::OptimizeTexCoords(model);
    if (steps.reduce) kgl::Reduce(model, steps.fraction);
}

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
    ApplySteps(model, steps);
    std::string json = kgl::ModelToJson(model);
    std::fwrite(json.data(), 1, json.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int Convert(const std::vector<std::string>& args) {
    if (args.size() < 3) return Usage("convert takes IN and OUT");
    TSteps steps;
    std::string why;
    if (!ParseSteps(args, 3, steps, why)) return Usage(why.c_str());
    const std::string& out = args[2];
    std::string ext = kgl::LowerExtension(out);
    if (ext != ".obj" && ext != ".kgm") return Usage("OUT must end in .obj or .kgm");
    kgl::TKGLModel model;
    if (!Load(model, args[1])) return 1;
    ApplySteps(model, steps);
    if (ext == ".kgm") {
        try {
            kgl::SaveToKGM(model, out);
        } catch (const kgl::EModelError& e) {
            std::fprintf(stderr, "%s\n", kgl::FormatExceptionText(e).c_str());
            return 1;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "kglmodel: %s: %s\n", out.c_str(), e.what());
            return 1;
        }
        return 0;
    }
    if (model.fCount < 1) {
        std::fprintf(stderr, "kglmodel: %s: the model has no faces, so no OBJ file is written\n", out.c_str());
        return 1;
    }
    int before = g_messages;
    kgl::SaveToOBJ(model, out);
    return g_messages == before ? 0 : 1;
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
    if (image.pixels.size() >= 3)
        std::printf("%d %d %d\n", image.pixels[0], image.pixels[1], image.pixels[2]);
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
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    return Usage(("unknown command '" + cmd + "'").c_str());
}

}  // namespace

int main(int argc, char** argv) {
    // Failures outside the model core's own handling (out of memory while printing a
    // huge model, say) still end with one line and status 1, never an abort.
    try {
        return Dispatch(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "kglmodel: out of memory\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kglmodel: %s\n", e.what());
    }
    return 1;
}
