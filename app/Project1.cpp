// kgl-editor: the program entry. Creates the application object and the window
// (whose creation loads the texture and the first model), then runs the loop.
#include <QApplication>
#include <QMessageBox>

#include "Unit1.h"
#include "messages.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    kgl::SetMessageHandler([](const std::string& caption, const std::string& text) {
        QMessageBox::information(nullptr, QString::fromStdString(caption.empty() ? "kgl-editor" : caption),
                                 QString::fromStdString(text));
    });
    Form1 = new TForm1();
    Form1->setAttribute(Qt::WA_DeleteOnClose);
    Form1->show();
    return application.exec();
}
