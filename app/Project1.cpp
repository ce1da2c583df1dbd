// kgl-editor [PATH]: the program entry. Creates the application object (which installs
// the message dialog and catches exceptions escaping any handler) and the window, whose
// creation loads the texture and the first model, then opens PATH (a model file or a
// folder) when one is given, and runs the loop.
#include <QDir>

#include "Application.h"
#include "Unit1.h"

int main(int argc, char* argv[]) {
    TApplication application(argc, argv);
    // Taken now: creating the window moves the current folder to the file list's.
    const QString startFolder = QDir::currentPath();
    Form1 = new TForm1();
    Form1->setAttribute(Qt::WA_DeleteOnClose);
    Form1->show();
    application.Guard([&] { Form1->OpenArguments(QCoreApplication::arguments(), startFolder); });
    return application.exec();
}
