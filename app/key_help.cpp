#include "key_help.h"

#include <QMessageBox>
#include <QPointer>

#include "Unit1.h"

QString KeyHelpText() {
    return QStringLiteral(
        "Keys\n"
        "  Ctrl+O            open a model file of any format the editor reads\n"
        "  Ctrl+R            open one of the ten files opened last\n"
        "  Ctrl+S            save as KGM beside the selected file (NAME.kgm)\n"
        "  Ctrl+Shift+S      save as: KGM with its reduction state, OBJ of the full model,\n"
        "                    or the model as shown (OBJ or KGM)\n"
        "  Ctrl+Z            undo: a selection stroke, a reduction track bar's move,\n"
        "                    the texture-coordinate rewrite\n"
        "  Ctrl+Shift+Z, Ctrl+Y   redo\n"
        "  Ctrl+E            reorder the edge table by geometric error\n"
        "  Home              put the view back as the track bars say\n"
        "  F12               save a picture of the view beside the model\n"
        "  F1                this list\n"
        "\n"
        "Mouse over the view\n"
        "  left button       select what lies under the pointer (Edge, Group or Face);\n"
        "                    drag to paint\n"
        "  right button      deselect; drag to wipe\n"
        "  middle drag       orbit about the model's centre\n"
        "  Shift+middle drag pan\n"
        "  middle double-click   put the view back as the track bars say\n"
        "  wheel             camera nearer (up) or farther (down): the second track bar\n"
        "\n"
        "Drop a model file or a folder on the window to open it.");
}

QMessageBox* ShowKeyHelp(QWidget* owner) {
    static QPointer<QMessageBox> box;
    if (!box) {
        box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Keys and mouse"), KeyHelpText(), QMessageBox::Close,
                              owner);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->setFont(FixedPitchFont(QStringLiteral("Courier New"), 12));  // the columns line up
    }
    box->show();
    box->raise();
    box->activateWindow();
    return box;
}
