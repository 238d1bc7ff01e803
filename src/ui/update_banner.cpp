#include "ui/update_banner.h"

#include "ui/palette.h"
#include "ui/symbols.h"
#include "update/update_checker.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

UpdateBanner::UpdateBanner(UpdateChecker* updater, QWidget* parent)
    : RoundedPanel(parent), m_updater(updater)
{
    setObjectName(QStringLiteral("updateBanner"));
    setColours(Palette::bannerFill(palette()), Palette::bannerBorder(palette()));
    setRadius(10);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 14, 14, 14);
    row->setSpacing(12);

    auto* icon = new QLabel(this);
    icon->setPixmap(Symbols::icon(QStringLiteral("arrow.down.circle.fill")).pixmap(24, 24));
    row->addWidget(icon, 0, Qt::AlignTop);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("bannerTitle"));
    m_title->setTextFormat(Qt::PlainText);
    TextStyle::headline(m_title);
    m_current = new QLabel(this);
    m_current->setObjectName(QStringLiteral("bannerCurrentVersion"));
    m_current->setTextFormat(Qt::PlainText);
    TextStyle::secondary(m_current);
    m_notes = new QWidget(this);
    m_notes->setObjectName(QStringLiteral("bannerNotes"));
    m_notesLayout = new QVBoxLayout(m_notes);
    m_notesLayout->setContentsMargins(0, 0, 0, 0);
    m_notesLayout->setSpacing(4);
    texts->addWidget(m_title);
    texts->addWidget(m_current);
    texts->addWidget(m_notes);
    row->addLayout(texts, 1);

    auto* download = new QPushButton(QStringLiteral("Tải bản mới"), this);
    download->setObjectName(QStringLiteral("downloadButton"));
    download->setDefault(true);
    row->addWidget(download, 0, Qt::AlignTop);
    connect(download, &QPushButton::clicked, this, [this] { m_updater->openDownloadPage(); });

    connect(m_updater, &UpdateChecker::availableChanged, this, &UpdateBanner::refresh);
    refresh();
}

void UpdateBanner::refresh()
{
    const auto available = m_updater->available();
    setVisible(available.has_value());
    if (!available) return;
    m_title->setText(QStringLiteral("Đã có SorviClean ") + available->version);
    m_current->setText(QStringLiteral("Bạn đang dùng bản ") + m_updater->currentVersion() +
                       QStringLiteral("."));
    while (QLayoutItem* item = m_notesLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const QStringList& notes = available->notes;
    for (qsizetype i = 0; i < notes.size() && i < kMaxNotes; ++i) {
        auto* line = new QLabel(QStringLiteral("• ") + notes.at(i), m_notes);
        line->setObjectName(QStringLiteral("bannerNote"));
        line->setTextFormat(Qt::PlainText);
        line->setWordWrap(true);
        TextStyle::callout(line);
        m_notesLayout->addWidget(line);
    }
    m_notes->setVisible(!notes.isEmpty());
}
