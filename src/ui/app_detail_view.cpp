#include "ui/app_detail_view.h"

#include "core/category.h"
#include "platform/vocabulary.h"
#include "ui/app_icons.h"
#include "ui/checkable_list_model.h"
#include "ui/dialogs.h"
#include "ui/display_text.h"
#include "ui/elided_label.h"
#include "ui/palette.h"
#include "ui/panels.h"
#include "ui/reveal_action.h"
#include "ui/row_painter.h"
#include "ui/spinner.h"
#include "ui/symbols.h"
#include "uninstaller/uninstaller_model.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

constexpr int kIconSize = 72;

QLabel* captionLabel(QWidget* parent, const QString& name)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    TextStyle::caption(label);
    TextStyle::secondary(label);
    return label;
}

// A symbol beside a wrapped text, as a notice under the header; the text is named
// `name` + "Text".
QWidget* notice(const QString& symbol, const QString& text, const QString& name, QWidget* parent,
                QLabel** label)
{
    QWidget* row = makeSymbolLabel(symbol, text, 16, parent, label, SymbolText::wrapped);
    row->setObjectName(name);
    (*label)->setObjectName(name + QStringLiteral("Text"));
    return row;
}

} // namespace

AppDetailView::AppDetailView(UninstallerModel* model, const InstalledApp& app, AppIcons* icons,
                             QWidget* parent)
    : QWidget(parent), m_model(model), m_app(app), m_icons(icons)
{
    setObjectName(QStringLiteral("appDetail"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(14);
    layout->addWidget(buildHeader());
    layout->addWidget(buildNotice());
    auto* heading = new QLabel(QStringLiteral("File liên quan"), this);
    heading->setObjectName(QStringLiteral("leftoversHeading"));
    TextStyle::headline(heading);
    layout->addWidget(heading);
    layout->addWidget(buildLeftovers(), 1);
    layout->addWidget(buildFooter());

    connect(m_model, &UninstallerModel::appsChanged, this, &AppDetailView::refreshApp);
    connect(m_model, &UninstallerModel::appChanged, this, [this](int row) {
        if (m_model->apps().value(row).url == m_app.url) refreshApp();
    });
    connect(m_model, &UninstallerModel::owningPackageChanged, this, &AppDetailView::refreshNotice);
    connect(m_model, &UninstallerModel::loadingLeftoversChanged, this,
            &AppDetailView::refreshLeftovers);
    connect(m_model, &UninstallerModel::leftoversChanged, this, [this] {
        refreshLeftovers();
        refreshFooter();
    });
    connect(m_model, &UninstallerModel::selectedLeftoversChanged, this,
            &AppDetailView::refreshFooter);
    connect(m_model, &UninstallerModel::workingChanged, this, [this] {
        // An uninstall that ends with the application still there may have been refused by a
        // running instance.
        refreshNotice();
        refreshFooter();
    });
    connect(m_model, &UninstallerModel::progressChanged, this, &AppDetailView::refreshProgress);
    connect(m_icons, &AppIcons::iconLoaded, this, [this](const QString& url) {
        if (url == m_app.url)
            m_icon->setPixmap(m_icons->icon(m_app, kIconSize, devicePixelRatioF()));
    });
    refreshApp();
    refreshNotice();
    refreshLeftovers();
    refreshProgress();
}

QWidget* AppDetailView::buildHeader()
{
    auto* header = new QWidget(this);
    header->setObjectName(QStringLiteral("appHeader"));
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(16);
    m_icon = new QLabel(header);
    m_icon->setObjectName(QStringLiteral("appIcon"));
    m_icon->setFixedSize(kIconSize, kIconSize);
    m_icon->setPixmap(m_icons->icon(m_app, kIconSize, devicePixelRatioF()));
    row->addWidget(m_icon, 0, Qt::AlignVCenter);

    auto* column = new QVBoxLayout;
    column->setSpacing(4);
    m_name = new ElidedLabel(header);
    m_name->setObjectName(QStringLiteral("appName"));
    TextStyle::apply(m_name, 1.6, true);
    m_identifier = new QLineEdit(header);
    m_identifier->setObjectName(QStringLiteral("appIdentifier"));
    // A read-only field without a frame: it reads as a label, yet the whole identifier can be
    // selected and copied even when it is too long to show.
    m_identifier->setReadOnly(true);
    m_identifier->setFrame(false);
    m_identifier->setFocusPolicy(Qt::ClickFocus);
    m_identifier->setContextMenuPolicy(Qt::DefaultContextMenu);
    QPalette transparent = m_identifier->palette();
    transparent.setColor(QPalette::Base, Qt::transparent);
    m_identifier->setPalette(transparent);
    TextStyle::callout(m_identifier);
    TextStyle::secondary(m_identifier);
    m_identifier->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);

    auto* info = new QHBoxLayout;
    info->setSpacing(12);
    // A version is the application's own text, of any length, and a date is as long as the
    // locale writes it: both elided, never cut, at the window's minimum width.
    m_version = new ElidedLabel(header);
    m_version->setObjectName(QStringLiteral("appVersion"));
    m_lastUsed = new ElidedLabel(header);
    m_lastUsed->setObjectName(QStringLiteral("appLastUsed"));
    for (ElidedLabel* label : {m_version, m_lastUsed}) {
        TextStyle::caption(label);
        TextStyle::secondary(label);
    }
    m_size = captionLabel(header, QStringLiteral("appSize"));
    info->addWidget(m_version);
    info->addWidget(m_size);
    info->addWidget(m_lastUsed);
    info->addStretch(1);
    column->addWidget(m_name);
    column->addWidget(m_identifier);
    column->addLayout(info);
    // Under the texts rather than beside them: beside, the header alone was wider than the pane
    // at the window's minimum size.
    column->addWidget(
        Reveal::button([this] { return m_app.url; }, QStringLiteral("revealAppButton"), header), 0,
        Qt::AlignLeft);
    row->addLayout(column, 1);
    return header;
}

QWidget* AppDetailView::buildNotice()
{
    auto* holder = new QWidget(this);
    auto* column = new QVBoxLayout(holder);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    QLabel* text = nullptr;
    m_protectedNotice = notice(QStringLiteral("lock.fill"), QString(),
                               QStringLiteral("protectedNotice"), holder, &m_protectedText);
    TextStyle::secondary(m_protectedText);
    m_runningNotice =
        notice(QStringLiteral("exclamationmark.triangle.fill"),
               QStringLiteral("Ứng dụng đang chạy. SorviClean sẽ thoát ứng dụng trước khi gỡ."),
               QStringLiteral("runningNotice"), holder, &text);
    TextStyle::callout(text);
    Palette::setTextRole(text, Palette::Role::warning);
    column->addWidget(m_protectedNotice);
    column->addWidget(m_runningNotice);
    return holder;
}

QWidget* AppDetailView::buildLeftovers()
{
    m_leftoverArea = new QStackedWidget(this);
    m_leftoverArea->setObjectName(QStringLiteral("leftoverArea"));

    m_searchingPage = new QWidget(m_leftoverArea);
    m_searchingPage->setObjectName(QStringLiteral("leftoverSearchingPage"));
    auto* searching = new QVBoxLayout(m_searchingPage);
    searching->setContentsMargins(0, 0, 0, 0);
    searching->addWidget(new Spinner(16, m_searchingPage), 0, Qt::AlignHCenter);
    searching->addStretch(1);

    m_nonePage = new QWidget(m_leftoverArea);
    m_nonePage->setObjectName(QStringLiteral("noLeftoversPage"));
    auto* none = new QVBoxLayout(m_nonePage);
    none->setContentsMargins(0, 0, 0, 0);
    auto* nothing = new QLabel(Vocabulary::applicationWords().noLeftovers, m_nonePage);
    nothing->setObjectName(QStringLiteral("noLeftoversLabel"));
    TextStyle::secondary(nothing);
    none->addWidget(nothing);
    none->addStretch(1);

    m_leftoverList =
        makeRowList(QStringLiteral("leftoverList"), CheckableListModel::forLeftovers(m_model, this),
                    RowStyle(), m_leftoverArea);
    m_leftoverList->setSelectionMode(QAbstractItemView::NoSelection);
    Reveal::addRowMenu(m_leftoverList, QStringLiteral("leftoverContextMenu"));

    m_leftoverArea->addWidget(m_searchingPage);
    m_leftoverArea->addWidget(m_nonePage);
    m_leftoverArea->addWidget(m_leftoverList);
    return m_leftoverArea;
}

QWidget* AppDetailView::buildFooter()
{
    auto* footer = new QWidget(this);
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(0, 0, 0, 0);
    // An application that its installer removes does not go to the Trash.
    auto* note = new QLabel(m_app.removal == Removal::Transaction
                                ? QStringLiteral("Ứng dụng được gỡ qua Flatpak; các file liên quan "
                                                 "được chuyển vào Thùng rác, có thể khôi phục.")
                                : QStringLiteral("Các mục sẽ được chuyển vào Thùng rác, có thể "
                                                 "khôi phục."),
                            footer);
    note->setObjectName(QStringLiteral("trashNote"));
    // Wrapped: beside the button at the window's minimum width it would be cut.
    note->setWordWrap(true);
    TextStyle::caption(note);
    TextStyle::secondary(note);
    m_trashNote = note;
    m_progress = new QProgressBar(footer);
    m_progress->setObjectName(QStringLiteral("uninstallProgress"));
    m_progress->setFormat(QStringLiteral("Đã chuyển %v/%m mục vào Thùng rác"));
    m_progress->hide();
    row->addWidget(note, 1);
    row->addWidget(m_progress, 1);
    m_uninstall = new QPushButton(footer);
    m_uninstall->setObjectName(QStringLiteral("uninstallButton"));
    m_uninstall->setDefault(false);
    Palette::makeDestructive(m_uninstall);
    auto* inside = new QHBoxLayout(m_uninstall);
    inside->setContentsMargins(0, 0, 0, 0);
    m_working = new Spinner(12, m_uninstall);
    m_working->setObjectName(QStringLiteral("uninstallSpinner"));
    inside->addWidget(m_working, 0, Qt::AlignCenter);
    row->addWidget(m_uninstall);
    connect(m_uninstall, &QPushButton::clicked, this, &AppDetailView::confirm);
    return footer;
}

void AppDetailView::refreshApp()
{
    if (const std::optional<InstalledApp> current = m_model->selectedApp();
        current && current->url == m_app.url)
        m_app = *current;
    m_name->setFullText(m_app.name);
    if (m_identifier->text() != m_app.bundleID) {
        m_identifier->setText(m_app.bundleID);
        m_identifier->setCursorPosition(0);
    }
    m_version->setFullText(QStringLiteral("v") + m_app.version);
    m_version->setVisible(!m_app.version.isEmpty());
    m_size->setText(m_app.size ? formatBytes(*m_app.size) : QStringLiteral("Đang tính..."));
    // A system package's entry says nothing of the application's size: none is measured.
    m_size->setVisible(m_app.size || m_app.isMeasured());
    if (m_app.lastUsed)
        m_lastUsed->setFullText(
            QStringLiteral("Dùng lần cuối: ") +
            QLocale::system().toString(m_app.lastUsed->toLocalTime().date(), QLocale::ShortFormat));
    m_lastUsed->setVisible(m_app.lastUsed.has_value());
    refreshFooter();
}

void AppDetailView::refreshNotice()
{
    const Vocabulary::ApplicationWords& words = Vocabulary::applicationWords();
    QString text = words.protectedApplication;
    if (m_app.kind == ApplicationKind::SystemPackage) {
        const std::optional<QString>& package = m_model->owningPackage();
        text +=
            u' ' + (package ? words.heldByPackage.arg(*package) : words.removedByPackageManager);
    }
    m_protectedText->setText(text);
    m_protectedNotice->setVisible(m_app.isProtected);
    // Reads the process table: asked when the pane is built, when the window becomes active
    // and after an uninstall attempt, not on every size that arrives for the list.
    m_runningNotice->setVisible(!m_app.isProtected && m_model->isRunning(m_app));
}

bool AppDetailView::event(QEvent* event)
{
    // The user may have started or quit the application in another window meanwhile. Children
    // of a window get WindowActivate, not ActivationChange.
    if (event->type() == QEvent::WindowActivate) refreshNotice();
    return QWidget::event(event);
}

void AppDetailView::refreshLeftovers()
{
    if (m_model->loadingLeftovers())
        m_leftoverArea->setCurrentWidget(m_searchingPage);
    else if (m_model->leftovers().isEmpty())
        m_leftoverArea->setCurrentWidget(m_nonePage);
    else
        m_leftoverArea->setCurrentWidget(m_leftoverList);
}

void AppDetailView::refreshFooter()
{
    const bool working = m_model->working();
    m_working->setVisible(working);
    if (working) {
        m_uninstall->setIcon(QIcon());
        m_uninstall->setText(QString());
        // Keeps the button's width while its label is replaced by the spinner.
        m_uninstall->setMinimumWidth(m_uninstall->width());
    } else {
        m_uninstall->setMinimumWidth(0);
        m_uninstall->setIcon(Symbols::icon(QStringLiteral("trash")));
        m_uninstall->setText(QStringLiteral("Gỡ cài đặt · ") +
                             formatBytes(m_model->totalSelectedSize()));
    }
    m_uninstall->setEnabled(!m_app.isProtected && !working && m_app.size.has_value());
    if (m_confirmation) Dialogs::setMessage(m_confirmation, confirmationMessage());
}

// While the targets move, the bar takes the note's place: what it says is happening then.
void AppDetailView::refreshProgress()
{
    const std::optional<RunProgress>& progress = m_model->progress();
    m_trashNote->setVisible(!progress);
    m_progress->setVisible(progress.has_value());
    if (!progress) return;
    m_progress->setRange(0, int(progress->total));
    m_progress->setValue(int(progress->done));
}

bool AppDetailView::confirming() const
{
    return !m_confirmation.isNull();
}

QMessageBox* AppDetailView::confirmation() const
{
    return m_confirmation;
}

QString AppDetailView::confirmationTitle() const
{
    return QStringLiteral("Gỡ ") + m_app.name + QStringLiteral("?");
}

QString AppDetailView::confirmationMessage() const
{
    const QString count = QString::number(m_model->selectedLeftovers().size());
    const QString total = formatBytes(m_model->totalSelectedSize());
    if (m_app.removal == Removal::Transaction)
        return QStringLiteral("Ứng dụng sẽ được gỡ qua Flatpak và ") + count +
               QStringLiteral(" file liên quan sẽ được chuyển vào Thùng rác (tổng cộng ") + total +
               QStringLiteral(").");
    return QStringLiteral("Ứng dụng và ") + count + QStringLiteral(" file liên quan (") + total +
           QStringLiteral(") sẽ được chuyển vào Thùng rác.");
}

void AppDetailView::confirm()
{
    if (m_confirmation) return;
    m_confirmation = Dialogs::confirm(this,
                                      {QStringLiteral("uninstallConfirmation"), confirmationTitle(),
                                       confirmationMessage(), QStringLiteral("Gỡ cài đặt")},
                                      [this](bool confirmed) {
                                          m_confirmation = nullptr;
                                          if (confirmed) m_model->uninstallSelected();
                                      });
}
