#include "progress.h"

#include "errors.h"

namespace kgl {

namespace {
TProgressHandler& Handler() {
    static TProgressHandler handler;
    return handler;
}
}  // namespace

TProgressHandler SetProgressHandler(TProgressHandler handler) {
    TProgressHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

bool HasProgressHandler() { return static_cast<bool>(Handler()); }

void ReportProgress(uint64_t done, uint64_t total) {
    if (Handler() && !Handler()(done, total)) throw ECancelled();
}

}  // namespace kgl
