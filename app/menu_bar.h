#pragma once
// The window's menu bar, made from a plain description of its menus, so that it knows
// nothing of the window: each entry a command with its keys, a mirror of a check box,
// a menu filled when it opens, or a separator. Every entry shows its keys.
#include <QKeySequence>
#include <QList>
#include <QString>
#include <functional>
#include <vector>

class QAbstractButton;
class QMenu;
class QMenuBar;
class QWidget;

struct TMenuEntry {
    QString text;                       // with its & mnemonic; empty: a separator
    QList<QKeySequence> keys;           // the entry's shortcuts, the first shown (nothing else may hold them)
    QString keysShown;                  // keys shown only: a key the window or a control takes itself
    std::function<void()> run;          // a command
    QAbstractButton* toggle = nullptr;  // a check box the entry mirrors, both ways
    std::function<void(QMenu*)> fill;   // a submenu, filled anew each time it opens
};
struct TMenu {
    QString title;
    std::vector<TMenuEntry> entries;
};

// The menu bar of owner with menus, in order; the owner takes it into its layout.
QMenuBar* MakeMenuBar(QWidget* owner, const std::vector<TMenu>& menus);
