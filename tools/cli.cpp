#include "cli.h"

#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <new>
#include <system_error>

#include "import.h"
#include "messages.h"
#include "progress.h"

namespace kgl::cli {

namespace {

constexpr const char* kUsage =
    "usage: kglmodel info FILE\n"
    "       kglmodel dump FILE [--triangulate] [--optimize-texcoords] [--edge-order area|error] [--reduce FRACTION]\n"
    "       kglmodel convert IN OUT [--triangulate] [--optimize-texcoords] [--edge-order area|error]\n"
    "                [--reduce FRACTION] [--as-shown] [--ascii]\n"
    "       kglmodel image FILE\n"
    "       kglmodel formats\n"
    "       kglmodel render MODEL OUT.png [--size WxH] [--triangulate] [--optimize-texcoords]\n"
    "                [--edge-order area|error] [--reduce FRACTION] [--texture IMAGE] [--angle DEGREES]\n"
    "                [--pull 0..100] [--push 0..200] [--xrot on|off] [--wireframe on|off] [--boxes on|off]\n"
    "                [--axes on|off]\n"
    "       kglmodel thumbnail MODEL OUT SIZE\n";

}  // namespace

int Usage(const char* why) {
    if (why) std::fprintf(stderr, "kglmodel: %s\n", why);
    std::fputs(kUsage, stderr);
    return 2;
}

const char* UsageText() { return kUsage; }

namespace {
int g_messages = 0;
bool g_progressShown = false;  // a progress line stands on the terminal, no line break after it

// Takes the progress line off the terminal, so that what follows starts a clean line.
void ClearProgressLine() {
    if (!g_progressShown) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    g_progressShown = false;
}
}  // namespace

int MessageCount() { return g_messages; }

void InstallStderrMessages() {
    SetMessageHandler([](const std::string& caption, const std::string& text) {
        ++g_messages;
        ClearProgressLine();
        // one line, and a load failure's second one saying where; no other line break
        // (a quoted path may hold one) splits the message
        std::string line = caption.empty() ? text : caption + ": " + text;
        const size_t where = line.rfind("\nin ");
        for (size_t i = 0; i < line.size(); ++i)
            if ((line[i] == '\n' || line[i] == '\r') && i != where) line[i] = ' ';
        std::fprintf(stderr, "%s\n", line.c_str());
    });
}

TTerminalProgress::TTerminalProgress() : start_(std::chrono::steady_clock::now()) {
    if (!isatty(fileno(stderr))) return;
    previous_ = SetProgressHandler([this](uint64_t done, uint64_t total) {
        if (std::chrono::steady_clock::now() - start_ < std::chrono::seconds(1)) return true;
        if (total > 0)
            std::fprintf(stderr, "\r\033[Kkglmodel: %s %3d%%", doing_.c_str(), static_cast<int>(done * 100 / total));
        else
            std::fprintf(stderr, "\r\033[Kkglmodel: %s", doing_.c_str());
        std::fflush(stderr);
        g_progressShown = true;
        return true;
    });
    installed_ = true;
}

TTerminalProgress::~TTerminalProgress() {
    ClearProgressLine();
    if (installed_) SetProgressHandler(std::move(previous_));
}

const std::string* OptionValue(const std::vector<std::string>& args, size_t& i, const std::string& what,
                               std::string& why) {
    if (i + 1 >= args.size()) {
        why = args[i] + " needs " + what;
        return nullptr;
    }
    return &args[++i];
}

bool ParseNumber(const std::string& text, double& value) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value == value;
}
bool ParseInt(const std::string& text, int32_t& value) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

TOption ParseStepOption(const std::vector<std::string>& args, size_t& i, TSteps& steps, std::string& why) {
    if (args[i] == "--triangulate") {
        steps.triangulate = true;
        return TOption::kOk;
    }
    if (args[i] == "--optimize-texcoords") {
        steps.optimize = true;
        return TOption::kOk;
    }
    if (args[i] == "--edge-order") {
        const std::string* text = OptionValue(args, i, "area or error", why);
        if (!text) return TOption::kBad;
        if (*text != "area" && *text != "error") {
            why = "--edge-order takes area or error, not '" + *text + "'";
            return TOption::kBad;
        }
        steps.order = *text == "area" ? TEdgeOrder::kArea : TEdgeOrder::kError;
        return TOption::kOk;
    }
    if (args[i] != "--reduce") return TOption::kNotMine;
    const std::string* text = OptionValue(args, i, "a FRACTION", why);
    if (!text) return TOption::kBad;
    if (!ParseNumber(*text, steps.fraction)) {
        why = "'" + *text + "' is not a FRACTION";
        return TOption::kBad;
    }
    steps.reduce = true;
    return TOption::kOk;
}

bool ParseSteps(const std::vector<std::string>& args, size_t from, TSteps& steps, std::string& why) {
    for (size_t i = from; i < args.size(); ++i) {
        const TOption o = ParseStepOption(args, i, steps, why);
        if (o == TOption::kBad) return false;
        if (o == TOption::kNotMine) {
            why = "unknown option '" + args[i] + "'";
            return false;
        }
    }
    return true;
}

bool Load(TKGLModel& model, const std::string& path) {
    if (!IsReadableExtension(LowerExtension(path))) {
        std::fprintf(stderr, "kglmodel: %s: not a model file of a format read here (kglmodel formats lists them)\n",
                     path.c_str());
        return false;
    }
    const int before = g_messages;
    if (LoadModelFile(model, path)) return true;
    if (g_messages != before) return false;  // the reader said why
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        std::fprintf(stderr, "kglmodel: %s: cannot open the file\n", path.c_str());
    else
        std::fprintf(stderr, "kglmodel: %s: the model could not be read\n", path.c_str());
    return false;
}

bool ApplySteps(TKGLModel& model, const TSteps& steps) {
    if (steps.triangulate && !TriangulateFaces(model)) return false;  // the message said why
    if (steps.optimize) OptimizeTexCoords(model);
    if (steps.order == TEdgeOrder::kArea) BuildEdges(model);
    if (steps.order == TEdgeOrder::kError) OrderEdgesByError(model);
    if (steps.reduce || steps.order != TEdgeOrder::kAsLoaded) Reduce(model, steps.reduce ? steps.fraction : 0.0);
    return true;
}

int RunGuarded(const std::function<int()>& command) {
    try {
        return command();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "kglmodel: out of memory\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kglmodel: %s\n", e.what());
    }
    return 1;
}

}  // namespace kgl::cli
