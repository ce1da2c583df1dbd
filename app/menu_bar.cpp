#include "menu_bar.h"

#include <QAbstractButton>
#include <QAction>
#include <QMenu>
#include <QMenuBar>

QMenuBar* MakeMenuBar(QWidget* owner, const std::vector<TMenu>& menus) {
    auto* bar = new QMenuBar(owner);
    for (const TMenu& m : menus) {
        QMenu* menu = bar->addMenu(m.title);
        for (const TMenuEntry& e : m.entries) {
            if (e.text.isEmpty()) {
                menu->addSeparator();
                continue;
            }
            // a key shown only goes after a tab: the menu shows it, no shortcut is made
            const QString text = e.keysShown.isEmpty() ? e.text : e.text + QChar('\t') + e.keysShown;
            if (e.fill) {
                QMenu* sub = menu->addMenu(text);
                const auto fill = e.fill;
                QObject::connect(sub, &QMenu::aboutToShow, sub, [sub, fill] {
                    sub->clear();
                    fill(sub);
                });
                continue;
            }
            QAction* action = menu->addAction(text);
            action->setShortcuts(e.keys);
            action->setShortcutContext(Qt::WindowShortcut);
            if (QAbstractButton* box = e.toggle) {
                action->setCheckable(true);
                action->setChecked(box->isChecked());
                // each follows the other; a change to the same state raises nothing
                QObject::connect(action, &QAction::toggled, box, &QAbstractButton::setChecked);
                QObject::connect(box, &QAbstractButton::toggled, action, &QAction::setChecked);
                continue;
            }
            const auto run = e.run;
            QObject::connect(action, &QAction::triggered, owner, [run] {
                if (run) run();
            });
        }
    }
    return bar;
}
