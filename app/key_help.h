#pragma once
// F1: every key and mouse action of the window, in a short list shown beside it.
#include <QString>

class QWidget;
class QMessageBox;

// The list, one action a line.
QString KeyHelpText();
// Shows the list in a box that does not hold the window up (closed with its button or
// Escape); a second F1 brings the same box forward. Returns it.
QMessageBox* ShowKeyHelp(QWidget* owner);
