#include "dialogs.h"

namespace {
TDialogRunner& Runner() {
    static TDialogRunner runner;
    return runner;
}
}  // namespace

TDialogRunner SetDialogRunner(TDialogRunner runner) {
    TDialogRunner previous = std::move(Runner());
    Runner() = std::move(runner);
    return previous;
}

int RunDialog(QDialog& dialog) { return Runner() ? Runner()(dialog) : dialog.exec(); }
