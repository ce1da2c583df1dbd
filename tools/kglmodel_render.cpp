// kglmodel-render: `kglmodel render MODEL OUT.png [options]` and `kglmodel thumbnail
// MODEL OUT SIZE`, run by kglmodel with its arguments from the command on. Draws the
// model as the editor's frame does, offscreen, and writes a PNG. Exit status: 0
// success, 1 the model or the picture cannot be read or written (or no offscreen
// context), 2 wrong usage.
#include <cmath>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli.h"
#include "import.h"
#include "render.h"
#include "thumbnail.h"

namespace {

using namespace kgl::cli;

// --size WxH, each side 1 .. kRenderMaxSide.
bool ParseSize(const std::string& text, kgl::TRenderOptions& options) {
    const size_t x = text.find('x');
    if (x == std::string::npos) return false;
    int32_t w = 0, h = 0;
    if (!ParseInt(text.substr(0, x), w) || !ParseInt(text.substr(x + 1), h)) return false;
    if (w < 1 || h < 1 || w > kgl::kRenderMaxSide || h > kgl::kRenderMaxSide) return false;
    options.width = w;
    options.height = h;
    return true;
}

// Parses render's options after MODEL and OUT; false (why set) on wrong usage.
bool ParseRenderOptions(const std::vector<std::string>& args, TSteps& steps, kgl::TRenderOptions& options,
                        std::string& why) {
    for (size_t i = 2; i < args.size(); ++i) {
        const TOption o = ParseStepOption(args, i, steps, why);
        if (o == TOption::kBad) return false;
        if (o == TOption::kOk) continue;
        const std::string name = args[i];
        auto onOff = [&](bool& flag) {
            const std::string* text = OptionValue(args, i, "on or off", why);
            if (!text) return false;
            if (*text != "on" && *text != "off") {
                why = name + " takes on or off, not '" + *text + "'";
                return false;
            }
            flag = *text == "on";
            return true;
        };
        auto bounded = [&](int32_t& value, int32_t max) {
            const std::string* text = OptionValue(args, i, "a whole number 0 .. " + std::to_string(max), why);
            if (!text) return false;
            if (!ParseInt(*text, value) || value < 0 || value > max) {
                why = name + " takes a whole number 0 .. " + std::to_string(max) + ", not '" + *text + "'";
                return false;
            }
            return true;
        };
        bool ok = true;
        if (name == "--size") {
            const std::string* text = OptionValue(args, i, "WxH", why);
            ok = text && ParseSize(*text, options);
            if (text && !ok)
                why =
                    "--size takes WxH, each side 1 .. " + std::to_string(kgl::kRenderMaxSide) + ", not '" + *text + "'";
        } else if (name == "--texture") {
            const std::string* text = OptionValue(args, i, "an IMAGE", why);
            ok = text != nullptr;
            if (ok) options.texture = *text;
        } else if (name == "--angle") {
            const std::string* text = OptionValue(args, i, "DEGREES", why);
            ok = text && ParseNumber(*text, options.view.rotationAngle) && std::isfinite(options.view.rotationAngle);
            if (text && !ok) why = "'" + *text + "' is not a number of DEGREES";
        } else if (name == "--pull") {
            ok = bounded(options.view.pull, 100);
        } else if (name == "--push") {
            ok = bounded(options.view.push, 200);
        } else if (name == "--xrot") {
            ok = onOff(options.view.xRot);
        } else if (name == "--wireframe") {
            ok = onOff(options.view.wireframe);
        } else if (name == "--boxes") {
            ok = onOff(options.view.boxes);
        } else if (name == "--axes") {
            ok = onOff(options.view.axes);
        } else {
            why = "unknown option '" + name + "'";
            ok = false;
        }
        if (!ok) return false;
    }
    return true;
}

int Render(const std::vector<std::string>& args) {
    if (args.size() < 2) return Usage("render takes MODEL and OUT.png");
    TSteps steps;
    kgl::TRenderOptions options;
    std::string why;
    if (!ParseRenderOptions(args, steps, options, why)) return Usage(why.c_str());
    const std::string& out = args[1];
    if (kgl::LowerExtension(out) != ".png") return Usage("OUT must end in .png");
    kgl::TKGLModel model;
    if (!Load(model, args[0])) return 1;
    if (!ApplySteps(model, steps)) return 1;
    options.checkerFolder = kgl::ProgramFolder();
    kgl::TRgbPicture picture;
    if (!kgl::RenderModel(model, options, picture, why)) {
        std::fprintf(stderr, "kglmodel: %s\n", why.c_str());
        return 1;
    }
    try {
        kgl::WritePng(out, picture);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kglmodel: %s\n", e.what());
        return 1;
    }
    return 0;
}

// thumbnail MODEL OUT SIZE: OUT is written as PNG whatever its name (thumbnailers name
// their temporary files as they please), and only once it is complete.
int Thumbnail(const std::vector<std::string>& args) {
    if (args.size() != 3) return Usage("thumbnail takes MODEL, OUT and SIZE");
    int32_t size = 0;
    if (!ParseInt(args[2], size) || size < 1 || size > kgl::kRenderMaxSide)
        return Usage(
            ("SIZE takes a whole number 1 .. " + std::to_string(kgl::kRenderMaxSide) + ", not '" + args[2] + "'")
                .c_str());
    kgl::TKGLModel model;
    if (!Load(model, args[0])) return 1;
    kgl::TRgbaPicture picture;
    std::string why;
    if (!kgl::RenderThumbnail(model, size, kgl::ProgramFolder(), picture, why)) {
        std::fprintf(stderr, "kglmodel: %s: %s\n", args[0].c_str(), why.c_str());
        return 1;
    }
    try {
        kgl::WritePng(args[1], picture);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kglmodel: %s\n", e.what());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    InstallStderrMessages();
    // kglmodel passes the command first: render or thumbnail.
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return Usage(nullptr);
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "render") return RunGuarded([&] { return Render(rest); });
    if (args[0] == "thumbnail") return RunGuarded([&] { return Thumbnail(rest); });
    return Usage(("unknown command '" + args[0] + "'").c_str());
}
