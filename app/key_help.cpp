#include "key_help.h"

#include <QMessageBox>
#include <QPointer>

#include "window_text.h"

QString KeyHelpText() {
    return QStringLiteral(
        "Keys\n"
        "  Ctrl+O            open a model file of any format the editor reads\n"
        "  Ctrl+R            open one of the ten files opened last\n"
        "  Ctrl+S            save as KGM beside the selected file (NAME.kgm)\n"
        "  Ctrl+Shift+S      save as: KGM with its reduction state, OBJ of the full model,\n"
        "                    or the model as shown (OBJ or KGM); glTF, STL, PLY, OFF,\n"
        "                    COLLADA or FBX of the full model or of the model as shown\n"
        "  Ctrl+Z            undo: a selection stroke, a reduction track bar's move,\n"
        "                    the texture-coordinate rewrite, the triangulation\n"
        "  Ctrl+Shift+Z, Ctrl+Y   redo\n"
        "  Ctrl+T            cut every face of more than three corners into triangles\n"
        "                    (a quad model then reduces without holes)\n"
        "  Ctrl+E            reorder the edge table by geometric error\n"
        "  Home              the model framed again (orbit, pan and wheel undone,\n"
        "                    the second track bar back to 0)\n"
        "  F12               save a picture of the view beside the model\n"
        "  Ctrl+Q            quit\n"
        "  F1                this list\n"
        "\n"
        "Mouse over the view\n"
        "  left button       select what lies under the pointer (Edge, Group or Face);\n"
        "                    drag to paint\n"
        "  right button      deselect; drag to wipe\n"
        "  middle drag       orbit about the model's centre\n"
        "  Shift+middle drag pan\n"
        "  middle double-click   the model framed again, as Home\n"
        "  wheel             camera nearer (up) or farther (down): the second track bar,\n"
        "                    or a tenth of the way for a very small or large model\n"
        "\n"
        "Drop a model file or a folder on the window to open it. The menu bar holds\n"
        "every command with its keys.");
}

namespace {

// A box that does not hold the window up (closed with its button or Escape); asked for
// again, the same box comes forward.
QMessageBox* ShowBox(QPointer<QMessageBox>& box, QWidget* owner, const QString& title, const QString& text,
                     bool fixedPitch) {
    if (!box) {
        box = new QMessageBox(QMessageBox::NoIcon, title, text, QMessageBox::Close, owner);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        if (fixedPitch) box->setFont(FixedPitchFont(QStringLiteral("Courier New"), 12));  // the columns line up
    }
    box->show();
    box->raise();
    box->activateWindow();
    return box;
}

}  // namespace

QMessageBox* ShowKeyHelp(QWidget* owner) {
    static QPointer<QMessageBox> box;
    return ShowBox(box, owner, QStringLiteral("Keys and mouse"), KeyHelpText(), true);
}

QMessageBox* ShowAbout(QWidget* owner) {
    static QPointer<QMessageBox> box;
    return ShowBox(box, owner, QStringLiteral("About"),
                   QStringLiteral("KGL model editor %1\n\nA viewer and editor for polygon models: OBJ, KGM and the "
                                  "formats kglmodel formats lists.")
                       .arg(QStringLiteral(KGL_VERSION)),
                   false);
}
