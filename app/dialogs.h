#pragma once
// How the window runs its modal dialogs (the file dialogs, the question before a file
// is replaced): through one runner, exec() unless told otherwise, so that tests fill a
// real dialog in and answer it without anyone waiting on it.
#include <QDialog>
#include <functional>

// Runs dialog modally and returns its result (QDialog::Accepted, or the button a
// QMessageBox was answered with).
using TDialogRunner = std::function<int(QDialog& dialog)>;

// Installs runner (an empty one restores exec()) and returns the previous one.
TDialogRunner SetDialogRunner(TDialogRunner runner);
int RunDialog(QDialog& dialog);
