#include "ui/reveal_action.h"

#include "platform/desktop.h"
#include "platform/vocabulary.h"
#include "ui/row_painter.h"

#include <QAbstractItemView>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>

namespace Reveal {
namespace {

// The menu key and Shift+F10 open the current row's menu beside it, as a right click opens the
// menu of the row under the pointer.
void addKeyboardMenu(QAbstractItemView* view)
{
    for (const QKeySequence& keys :
         {QKeySequence(Qt::Key_Menu), QKeySequence(Qt::SHIFT | Qt::Key_F10)}) {
        auto* shortcut = new QShortcut(keys, view);
        shortcut->setContext(Qt::WidgetShortcut);
        QObject::connect(shortcut, &QShortcut::activated, view, [view] {
            const QModelIndex current = view->currentIndex();
            if (current.isValid())
                emit view->customContextMenuRequested(view->visualRect(current).center());
        });
    }
}

} // namespace

QString text()
{
    return Vocabulary::words().revealInFileViewer;
}

QPushButton* button(std::function<QString()> path, const QString& objectName, QWidget* parent)
{
    auto* reveal = new QPushButton(text(), parent);
    reveal->setObjectName(objectName);
    QObject::connect(reveal, &QPushButton::clicked, reveal,
                     [path = std::move(path)] { Desktop::revealInFileViewer({path()}); });
    return reveal;
}

void addRowMenu(QAbstractItemView* view, const QString& menuName)
{
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(view, &QWidget::customContextMenuRequested, view,
                     [view, menuName](const QPoint& position) {
                         const QModelIndex index = view->indexAt(position);
                         if (!index.isValid()) return;
                         const QString url = index.data(RowRole::Url).toString();
                         auto* menu = new QMenu(view);
                         menu->setObjectName(menuName);
                         menu->setAttribute(Qt::WA_DeleteOnClose);
                         QAction* reveal = menu->addAction(text());
                         QObject::connect(reveal, &QAction::triggered, view,
                                          [url] { Desktop::revealInFileViewer({url}); });
                         menu->popup(view->viewport()->mapToGlobal(position));
                     });
    addKeyboardMenu(view);
}

} // namespace Reveal
