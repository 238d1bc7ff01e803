#include "ui/sidebar.h"

#include "core/app_model.h"
#include "ui/destinations.h"
#include "ui/palette.h"
#include "ui/panels.h"
#include "ui/spinner.h"

#include <QHBoxLayout>
#include <QLabel>

namespace {
constexpr int kRowHeight = 30;
constexpr int kIconSize = 18;
} // namespace

Sidebar::Sidebar(AppModel* model, QWidget* parent) : QListWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("sidebar"));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setFrameShape(QFrame::NoFrame);
    setIconSize(QSize(kIconSize, kIconSize));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette colours = palette();
    colours.setColor(QPalette::Base, colours.color(QPalette::Window));
    setPalette(colours);

    addRow(Destination::overview, QStringLiteral("sparkles"), QStringLiteral("Tổng quan"));
    addSection(QStringLiteral("Dọn dẹp"));
    for (const Category& category : Category::all())
        addRow(category.id, category.symbol, category.title, true);
    addSection(QStringLiteral("Ứng dụng"));
    addRow(Destination::uninstaller, QStringLiteral("xmark.app"), QStringLiteral("Gỡ ứng dụng"));
    addSection(QStringLiteral("Hệ thống"));
    addRow(Destination::monitor, QStringLiteral("gauge"), QStringLiteral("Theo dõi hệ thống"));

    connect(m_model, &AppModel::stateChanged, this, &Sidebar::updateBadge);
    connect(this, &QListWidget::itemSelectionChanged, this, [this] {
        refreshBadgeColours();
        if (!m_selecting) emit rowChosen(selectedId());
    });
    refreshBadgeColours();
}

// A badge on the selected row sits on the highlight: there it takes the highlighted text.
void Sidebar::refreshBadgeColours()
{
    const QString selected = selectedId();
    for (auto badge = m_badges.cbegin(); badge != m_badges.cend(); ++badge) {
        QPalette colours = palette();
        const QColor text = badge.key() == selected
                                ? colours.color(QPalette::HighlightedText)
                                : Palette::colour(Palette::Role::secondaryText, colours);
        // Inside a list the label draws with Text, elsewhere with WindowText.
        colours.setColor(QPalette::WindowText, text);
        colours.setColor(QPalette::Text, text);
        badge->size->setPalette(colours);
    }
}

QString Sidebar::selectedId() const
{
    const QList<QListWidgetItem*> items = selectedItems();
    return items.isEmpty() ? QString() : items.first()->data(IdRole).toString();
}

void Sidebar::selectId(const QString& id)
{
    m_selecting = true;
    QListWidgetItem* target = nullptr;
    for (int row = 0; row < count(); ++row)
        if (item(row)->data(IdRole).toString() == id && !id.isEmpty()) target = item(row);
    if (target)
        setCurrentItem(target);
    else
        clearSelection();
    m_selecting = false;
}

QSize Sidebar::sizeHint() const
{
    return {250, QListWidget::sizeHint().height()};
}

QSize Sidebar::minimumSizeHint() const
{
    int width = 0;
    for (int row = 0; row < count(); ++row)
        if (const QWidget* shown = itemWidget(item(row)))
            width = std::max(width, shown->minimumSizeHint().width());
    return {width + 2 * frameWidth(), QListWidget::minimumSizeHint().height()};
}

void Sidebar::addSection(const QString& heading)
{
    auto* item = new QListWidgetItem(heading, this);
    item->setFlags(Qt::NoItemFlags);
    QFont font = this->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 0.85);
    item->setFont(font);
    item->setSizeHint(QSize(0, kRowHeight));
    item->setForeground(Palette::colour(Palette::Role::secondaryText, palette()));
}

void Sidebar::addRow(const QString& id, const QString& symbol, const QString& title, bool withBadge)
{
    auto* item = new QListWidgetItem(this);
    item->setData(IdRole, id);
    item->setSizeHint(QSize(0, kRowHeight));
    // The label is also the item's text so keyboard search and accessibility find the row; the
    // row widget below draws it, with the badge beside it.
    item->setData(Qt::AccessibleTextRole, title);

    auto* row = new QWidget(this);
    row->setObjectName(QStringLiteral("sidebarRow-") + id);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(8, 0, 10, 0);
    layout->setSpacing(8);
    layout->addWidget(makeSymbolLabel(symbol, title, kIconSize, row), 1);
    if (withBadge) {
        Badge badge;
        badge.spinner = new Spinner(14, row);
        badge.spinner->setObjectName(QStringLiteral("badgeSpinner-") + id);
        badge.size = new QLabel(row);
        badge.size->setObjectName(QStringLiteral("badgeSize-") + id);
        TextStyle::caption(badge.size);
        // Room for the widest size from the start, so the column never narrows the titles.
        badge.size->setMinimumWidth(
            badge.size->fontMetrics().horizontalAdvance(formatBytes(888'800'000'000)));
        badge.size->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        layout->addWidget(badge.spinner);
        layout->addWidget(badge.size);
        m_badges.insert(id, badge);
        updateBadge(id);
    }
    for (QWidget* child : row->findChildren<QWidget*>())
        child->setAttribute(Qt::WA_TransparentForMouseEvents);
    row->setAttribute(Qt::WA_TransparentForMouseEvents);
    setItemWidget(item, row);
}

void Sidebar::updateBadge(const QString& id)
{
    const auto found = m_badges.constFind(id);
    const Category* category = Category::find(id);
    if (found == m_badges.constEnd() || !category) return;
    const AppModel::State state = m_model->state(*category);
    found->spinner->setVisible(state.scanning);
    found->size->setVisible(!state.scanning && state.scanned);
    if (!state.scanning && state.scanned)
        found->size->setText(formatBytes(m_model->totalSize(*category)));
}
