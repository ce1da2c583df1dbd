#pragma once
// How the model core's loads and saves end (private to the core): one helper runs the
// work and shows a failure through the message service, one takes a freshly read
// model over, so that a failed load leaves the model on display as it was.
#include <exception>
#include <new>
#include <string>

#include "KGLModel.h"
#include "errors.h"
#include "messages.h"

namespace kgl {

// Runs work(); true when it ended normally. A cancelled work (ECancelled) gives false
// without a message. A failure is shown as "Exception Name: <class> Exception message:
// <text>" and gives false: an EModelError (running out of memory as EOutOfMemory, see
// LocatedAt) with the place it knows on a second line, else PlaceOf(path); any other
// exception under the class name "Exception". path is empty for work in memory.
template <class F>
bool ReportFailure(F&& work, const std::string& path) {
    try {
        LocatedAt(PlaceOf(path), work);
        return true;
    } catch (const ECancelled&) {
        // asked for by the user: nothing to tell
    } catch (const EModelError& e) {
        ShowMessage(FormatExceptionText(e));
    } catch (const std::exception& e) {
        ShowMessage(FormatExceptionText("Exception", e.what()));
    }
    return false;
}

// A successful load: fresh replaces model; the group and face selections and the draw
// count survive it, the edge selection is emptied.
void TakeLoadedModel(TKGLModel& model, TKGLModel& fresh);

}  // namespace kgl
