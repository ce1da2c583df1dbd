#pragma once
// The model core's one progress service, beside the message service (messages.h): long
// work (a load, a save, a bake, an import) reports how far it is, and whoever started it
// may stop it. The core stays free of any toolkit: the editor installs a handler that
// shows a progress dialog with Cancel, kglmodel one that prints a line on a terminal,
// tests one that records or cancels. Without a handler nothing is reported.
//
// Contract:
//  - TProgressHandler(done, total): done of total units of the current work (bytes of a
//    file, faces of a model; total 0 when unknown), done <= total. Returns false to ask
//    for the work to stop.
//  - ReportProgress calls the handler at most about every kProgressInterval of work
//    (checked cheaply by the caller, see TProgressMeter) and throws ECancelled when it
//    returns false. ECancelled is an EModelError; the loads and saves catch it like any
//    failure, leave the model and every file as they were, and show no message.
#include <cstdint>
#include <functional>

namespace kgl {

using TProgressHandler = std::function<bool(uint64_t done, uint64_t total)>;

// Installs handler (an empty one: no reports) and returns the previous one.
TProgressHandler SetProgressHandler(TProgressHandler handler);
// True while a handler is installed.
bool HasProgressHandler();
// Reports done of total to the handler; throws ECancelled when it asks to stop.
void ReportProgress(uint64_t done, uint64_t total);

// Counts work and reports it once per step units (a hundredth of total, at least
// 1 MiB or 64k faces), so that a loop pays one comparison per item.
class TProgressMeter {
public:
    TProgressMeter(uint64_t total, uint64_t minStep)
        : total_(total), step_(total / 100 > minStep ? total / 100 : minStep), next_(step_) {}
    // done: the work done so far, rising.
    void At(uint64_t done) {
        if (done >= next_) {
            next_ = done + step_;
            if (HasProgressHandler()) ReportProgress(done < total_ ? done : total_, total_);
        }
    }

private:
    uint64_t total_, step_, next_;
};

}  // namespace kgl
