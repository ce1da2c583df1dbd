#pragma once
// What the kglmodel programs share: the usage text, messages on standard error,
// loading a model as the editor does and the options of the load steps.
// kglmodel runs every command but render and thumbnail itself; those run in
// kglmodel-render beside it, so that only pictures pay for loading the software
// renderer (OSMesa with LLVM adds some 20 ms to the start of every process that links it).
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "KGLModel.h"
#include "progress.h"

namespace kgl::cli {

// Prints "kglmodel: why" (when why is given) and the usage on standard error; returns 2.
int Usage(const char* why);
// The usage text, for --help.
const char* UsageText();

// Messages of the model core go to standard error, one line each (a load failure's
// second line saying where is kept), and are counted so that a failure reported only
// by a message still gives exit status 1.
void InstallStderrMessages();
int MessageCount();

// While it lives, and only when standard error is a terminal: the model core's progress
// as one line on standard error, "kglmodel: WHAT NN%", rewritten in place once the work
// has taken more than a second since the object was made, and taken off again at the
// end (and before any message).
class TTerminalProgress {
public:
    TTerminalProgress();
    ~TTerminalProgress();
    TTerminalProgress(const TTerminalProgress&) = delete;
    TTerminalProgress& operator=(const TTerminalProgress&) = delete;
    // What the work reported from now on is: "reading FILE", ...
    void Doing(std::string what) { doing_ = std::move(what); }

private:
    std::chrono::steady_clock::time_point start_;
    std::string doing_;
    TProgressHandler previous_;
    bool installed_ = false;
};

// Loads path as the editor does (any format LoadModelFile reads); false (with a one-line
// reason on standard error) when it cannot be read.
bool Load(TKGLModel& model, const std::string& path);

// The order of the edge table the reduction walks: as loaded (the area order of an OBJ
// file, a KGM file's own), rebuilt by face areas (BuildEdges), or by geometric error
// (OrderEdgesByError).
enum class TEdgeOrder { kAsLoaded, kArea, kError };

// The steps after a load, in this order: triangulation, texture-coordinate rewrite, edge
// order, reduction. A new edge order without a reduction is shown at full detail.
struct TSteps {
    bool triangulate = false;
    bool optimize = false;
    TEdgeOrder order = TEdgeOrder::kAsLoaded;
    bool reduce = false;
    double fraction = 0;
};
// False when the triangulation failed (its message on standard error): no later step runs.
bool ApplySteps(TKGLModel& model, const TSteps& steps);

// One option at args[i], its value (if any) taken too: kNotMine when it is not one the
// parser knows, kBad (why set) when it or its value is wrong.
enum class TOption { kOk, kNotMine, kBad };
// --triangulate, --optimize-texcoords, --edge-order area|error, --reduce FRACTION.
TOption ParseStepOption(const std::vector<std::string>& args, size_t& i, TSteps& steps, std::string& why);
// Every option from args[from] on is a step option; false (why set) on wrong usage.
bool ParseSteps(const std::vector<std::string>& args, size_t from, TSteps& steps, std::string& why);

// The value after args[i] (i moves onto it), or nullptr (why: "OPTION needs what").
const std::string* OptionValue(const std::vector<std::string>& args, size_t& i, const std::string& what,
                               std::string& why);
// Whole texts only, without the locale; NaN is not a number.
bool ParseNumber(const std::string& text, double& value);
bool ParseInt(const std::string& text, int32_t& value);

// Runs a command: failures outside the model core's own handling (out of memory while
// printing a huge model, say) still end with one line and status 1, never an abort.
int RunGuarded(const std::function<int()>& command);

}  // namespace kgl::cli
