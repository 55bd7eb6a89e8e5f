#pragma once

class QAction;
class QTreeView;
class QWidget;

namespace orvantis {

class RowActions;

// Gives the levels list its menu, on the right mouse button, the Menu key and, anywhere in
// `window`, Shift+F10: what `actions` does with the rows, on their keys too, then "Refresh When
// Files Change", a check box off at every start, which it returns for the window to wire.
QAction *addListMenu(QTreeView &view, RowActions &actions, QWidget &window);

} // namespace orvantis
