#pragma once

#include <QString>
#include <functional>

class QAbstractItemView;
class QPushButton;
class QWidget;

/// Showing an item in the file manager, selected: the one text and the one action behind the
/// detail pane's button and the context menu of every list of files. GUI thread.
namespace Reveal {

/// The label of the action.
QString text();

/// A button that reveals the path `path` gives when it is pressed.
QPushButton* button(std::function<QString()> path, const QString& objectName, QWidget* parent);

/// Gives the rows of `view` a context menu named `menuName` with the one reveal action, which
/// reveals the path in the row's RowRole::Url.
void addRowMenu(QAbstractItemView* view, const QString& menuName);

} // namespace Reveal
