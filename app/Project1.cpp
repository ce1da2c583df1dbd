// kgl-editor: the program entry. Creates the application object (which installs the
// message dialog and catches exceptions escaping any handler) and the window, whose
// creation loads the texture and the first model, then runs the loop.
#include "Application.h"
#include "Unit1.h"

int main(int argc, char* argv[]) {
    TApplication application(argc, argv);
    Form1 = new TForm1();
    Form1->setAttribute(Qt::WA_DeleteOnClose);
    Form1->show();
    return application.exec();
}
