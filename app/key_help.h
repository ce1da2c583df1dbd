#pragma once
// The Help menu's boxes: F1's list of every key and mouse action of the window, and
// About, with the version.
#include <QString>

class QWidget;
class QMessageBox;

// The list, one action a line.
QString KeyHelpText();
// Shows the list in a box that does not hold the window up (closed with its button or
// Escape); a second F1 brings the same box forward. Returns it.
QMessageBox* ShowKeyHelp(QWidget* owner);
// About: the program, its version and what it reads and writes, in a box like F1's.
QMessageBox* ShowAbout(QWidget* owner);
