#include "window/listmenu.h"

#include "window/rowactions.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QTreeView>

namespace orvantis {

namespace {

void addRowAction(QTreeView &view, RowActions &actions, const QString &text,
                  const QKeySequence &keys, void (RowActions::*slot)()) {
    auto *action = new QAction(text, &view);
    action->setShortcut(keys);
    action->setShortcutContext(Qt::WidgetShortcut);
    QObject::connect(action, &QAction::triggered, &actions, slot);
    view.addAction(action);
}

// Opens the menu as the Menu key does, at the current row.
void openMenu(QTreeView &view) {
    const QRect current = view.visualRect(view.currentIndex());
    const QPoint at = current.isValid() ? current.center() : view.viewport()->rect().topLeft();
    QContextMenuEvent event(QContextMenuEvent::Keyboard, at, view.viewport()->mapToGlobal(at));
    QCoreApplication::sendEvent(view.viewport(), &event);
}

} // namespace

QAction *addListMenu(QTreeView &view, RowActions &actions, QWidget &window) {
    addRowAction(view, actions, QStringLiteral("Copy"), QKeySequence::Copy,
                 &RowActions::copySelectedRows);
    addRowAction(view, actions, QStringLiteral("Copy with Column Titles"),
                 QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C),
                 &RowActions::copySelectedRowsWithTitles);
    addRowAction(view, actions, QStringLiteral("Save As…"), QKeySequence::Save,
                 &RowActions::saveAllAs);
    addRowAction(view, actions, QStringLiteral("Save Selected Rows As…"), QKeySequence(),
                 &RowActions::saveSelectedAs);
    addRowAction(view, actions, QStringLiteral("Open Account File"),
                 QKeySequence(Qt::CTRL | Qt::Key_O), &RowActions::openAccountFile);
    addRowAction(view, actions, QStringLiteral("Show in Folder"), QKeySequence(),
                 &RowActions::showAccountFileInFolder);
    auto *separator = new QAction(&view);
    separator->setSeparator(true);
    view.addAction(separator);
    auto *refreshOnChange = new QAction(QStringLiteral("Refresh When Files Change"), &view);
    refreshOnChange->setCheckable(true); // off at every start: nothing is kept
    view.addAction(refreshOnChange);
    view.setContextMenuPolicy(Qt::ActionsContextMenu);

    auto *menuKey = new QAction(QStringLiteral("Context Menu"), &window);
    menuKey->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10));
    QObject::connect(menuKey, &QAction::triggered, &view, [&view] { openMenu(view); });
    window.addAction(menuKey);
    return refreshOnChange;
}

} // namespace orvantis
