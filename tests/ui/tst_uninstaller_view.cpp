#include "core/category.h"
#include "platform/file_system.h"
#include "platform/running_apps.h"
#include "platform/script_runner.h"
#include "support/test_home.h"
#include "support/tree_builder.h"
#include "ui/app_detail_view.h"
#include "ui/app_icons.h"
#include "ui/app_list_model.h"
#include "ui/clean_item_delegate.h"
#include "ui/clean_item_model.h"
#include "ui/destinations.h"
#include "ui/elided_label.h"
#include "ui/leftover_list_model.h"
#include "ui/uninstaller_view.h"
#include "uninstaller/bundle_fixture.h"
#include "uninstaller/uninstaller_model.h"

#include <QApplication>
#include <QComboBox>
#include <QCoro/QCoroTask>
#include <QImage>
#include <QImageWriter>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QToolButton>
#include <QToolTip>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

using namespace BundleFixture;
using TreeBuilder::makeDir;
using TreeBuilder::writeFile;

namespace {

class RecordingRunner final : public ScriptRunner
{
public:
    Result run(const QString&) override
    {
        ++runs;
        return {};
    }
    std::atomic<int> runs{0};
};

// An application folder and a Library under the temporary home, and the model working on them.
struct Fixture : AppLayout
{
    RecordingRunner runner;
    RunningApps& registry = defaultRunningApps();
    std::unique_ptr<UninstallerModel> model;
    std::unique_ptr<QWidget> screen;

    Fixture() : AppLayout(freshAppLayout(QStringLiteral("v")))
    {
        makeDir(library);
        UninstallerModel::Services services;
        services.folders = folders;
        services.runningApps = &registry;
        services.scriptRunner = &runner;
        services.quitCheckInterval = std::chrono::milliseconds(10);
        model = std::make_unique<UninstallerModel>(services);
    }

    ~Fixture()
    {
        screen.reset();
        // Measurements of the last load may still be running; let them land before the model goes.
        if (!QTest::qWaitFor([&] { return allMeasured(); }, 10000))
            qWarning("sizes still arriving when the fixture ended");
    }

    QString bundle(const QString& name, const QString& id, qint64 payload = 0,
                   const QString& version = {})
    {
        BundleShape shape;
        shape.identifier = id;
        if (!version.isEmpty()) shape.version = version;
        const QString url = makeBundle(apps, name + QStringLiteral(".app"), shape);
        if (payload > 0) writeFile(url + QStringLiteral("/Contents/Resources/payload"), payload);
        return url;
    }

    QString leftover(const QString& relative, qint64 size = 5000)
    {
        const QString path = library + u'/' + relative;
        writeFile(path, size);
        return path;
    }

    /// Builds the screen as the window does, not shown yet.
    void build()
    {
        Models models;
        models.uninstaller = model.get();
        screen.reset(createUninstallerScreen(models, nullptr));
        screen->resize(960, 620);
    }

    /// Builds the screen and shows it, which starts a load.
    void open()
    {
        build();
        screen->show();
    }

    bool allMeasured() const
    {
        return !model->loading() &&
               std::all_of(model->apps().begin(), model->apps().end(),
                           [](const InstalledApp& app) { return app.size.has_value(); });
    }

    bool waitForSizes() { return QTest::qWaitFor([&] { return allMeasured(); }, 10000); }
    bool waitForLeftovers()
    {
        return QTest::qWaitFor([&] { return !model->loadingLeftovers(); }, 10000);
    }

    template <typename T = QWidget> T* find(const QString& name) const
    {
        return screen ? screen->findChild<T*>(name) : nullptr;
    }

    UninstallerView* view() const { return qobject_cast<UninstallerView*>(screen.get()); }
    AppDetailView* detail() const { return view() ? view()->detail() : nullptr; }
    QListView* list() const { return find<QListView>(QStringLiteral("appList")); }

    QStringList listed(int role = Qt::DisplayRole) const
    {
        QStringList values;
        const QAbstractItemModel* rows = list()->model();
        for (int row = 0; row < rows->rowCount(); ++row)
            values.append(rows->index(row, 0).data(role).toString());
        return values;
    }
    QStringList listedUrls() const { return listed(AppListModel::UrlRole); }

    QModelIndex rowOf(const QString& url) const
    {
        return list()->model()->index(int(listedUrls().indexOf(url)), 0);
    }

    /// Clicks the row of `url` in the list, as the user selects an application.
    bool click(const QString& url)
    {
        const QModelIndex index = rowOf(url);
        if (!index.isValid()) return false;
        list()->scrollTo(index);
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {},
                          list()->visualRect(index).center());
        return model->selectedID() == url;
    }

    QString selectedInView() const
    {
        const QModelIndexList rows = list()->selectionModel()->selectedRows();
        return rows.size() == 1 ? rows.first().data(AppListModel::UrlRole).toString() : QString();
    }

    QPushButton* uninstallButton() const { return find<QPushButton>("uninstallButton"); }
    QString labelText(const QString& name) const { return find<QLabel>(name)->text(); }
};

QMessageBox* waitForBox(const QWidget* root, const QString& name)
{
    QMessageBox* shown = nullptr;
    const bool found = QTest::qWaitFor(
        [&] {
            for (QMessageBox* box : root->findChildren<QMessageBox*>(name))
                if (box->isVisible()) shown = box;
            return shown != nullptr;
        },
        10000);
    return found ? shown : nullptr;
}

} // namespace

class TestUninstallerView : public QObject
{
    Q_OBJECT
private slots:
    void listPaneTextsAndLoadingOverlay()
    {
        Fixture f;
        f.bundle("Alpha", "com.example.alpha", 0, "2.1");
        f.bundle("Beta", "org.sample.beta");
        f.build();
        auto* reload = f.find<QToolButton>("reloadButton");
        QCOMPARE(reload->toolTip(), QString("Tải lại"));
        QCOMPARE(f.labelText("loadingLabel"), QString("Đang tải danh sách..."));
        // Connected after the screen's own connection: the screen has already followed.
        QList<bool> overlayShown;
        QList<bool> reloadEnabled;
        connect(f.model.get(), &UninstallerModel::loadingChanged, this, [&] {
            overlayShown.append(!f.find("loadingOverlay")->isHidden());
            reloadEnabled.append(reload->isEnabled());
        });
        f.screen->show();
        QVERIFY(f.waitForSizes());
        QCOMPARE(overlayShown, (QList<bool>{true, false}));
        QCOMPARE(reloadEnabled, (QList<bool>{false, true}));
        // Nothing selected yet: the placeholder.
        QCOMPARE(f.find<QStackedWidget>("detailPane")->currentWidget()->objectName(),
                 QString("detailPlaceholder"));
        QCOMPARE(f.labelText("placeholderText"),
                 QString("Chọn một ứng dụng để xem chi tiết và gỡ cài đặt"));
        QVERIFY(!f.find<QLabel>("placeholderSymbol")->pixmap().isNull());
        QCOMPARE(f.detail(), nullptr);
        QCOMPARE(f.list()->selectionModel()->selectedRows().size(), 0);

        QCOMPARE(f.find("listPane")->width(), 330);
        auto* search = f.find<QLineEdit>("searchField");
        QCOMPARE(search->placeholderText(), QString("Tìm ứng dụng"));
        auto* sort = f.find<QComboBox>("sortPicker");
        QCOMPARE(sort->width(), 130);
        QStringList titles;
        for (int i = 0; i < sort->count(); ++i)
            titles.append(sort->itemText(i));
        QCOMPARE(titles, (QStringList{"Tên", "Dung lượng", "Lần dùng cuối"}));
        QCOMPARE(f.labelText("appCount"), QString("2 ứng dụng"));
        QCOMPARE(f.listed(), (QStringList{"Alpha", "Beta"}));
        const QAbstractItemModel* rows = f.list()->model();
        QCOMPARE(rows->index(0, 0).data(AppListModel::DetailRole).toString(),
                 QString("Phiên bản 2.1"));
        QCOMPARE(rows->index(1, 0).data(AppListModel::DetailRole).toString(),
                 QString("org.sample.beta"));

        // The reload button loads again: a new bundle appears.
        const QString gamma = f.bundle("Gamma", "com.example.gamma");
        QTest::mouseClick(reload, Qt::LeftButton);
        QVERIFY(overlayShown.size() >= 3 && overlayShown[2]);
        QVERIFY(f.waitForSizes());
        QCOMPARE(f.labelText("appCount"), QString("3 ứng dụng"));

        // No leftovers at all.
        QVERIFY(f.click(gamma));
        QVERIFY(f.waitForLeftovers());
        QCOMPARE(f.find<QStackedWidget>("leftoverArea")->currentWidget()->objectName(),
                 QString("noLeftoversPage"));
        QCOMPARE(f.labelText("noLeftoversLabel"),
                 QString("Không tìm thấy file thừa trong ~/Library."));
        QCOMPARE(f.labelText("trashNote"),
                 QString("Các mục sẽ được chuyển vào Thùng rác, có thể khôi phục."));
    }

    void searchAndSelectionKeptAcrossVisits()
    {
        Fixture f;
        const QString alpha = f.bundle("Alpha", "com.example.alpha");
        const QString beta = f.bundle("Beta", "org.sample.beta");
        const QString gamma = f.bundle("Gamma", "com.example.gamma");
        f.open();
        QVERIFY(f.waitForSizes());
        QVERIFY(f.click(alpha));
        QVERIFY(f.waitForLeftovers());

        QTest::keyClicks(f.find<QLineEdit>("searchField"), "SAMPLE.b");
        QCOMPARE(f.model->search(), QString("SAMPLE.b"));
        QCOMPARE(f.listedUrls(), QStringList{beta});
        // The count is of every loaded application, not of the visible ones.
        QCOMPARE(f.labelText("appCount"), QString("3 ứng dụng"));
        // The search hid the selected row; the selection and its detail stay.
        QCOMPARE(f.model->selectedID(), std::optional<QString>(alpha));
        QVERIFY(f.detail());
        QCOMPARE(f.detail()->app().url, alpha);

        f.find<QLineEdit>("searchField")->clear();
        QCOMPARE(f.listed(), (QStringList{"Alpha", "Beta", "Gamma"}));
        QCOMPARE(f.selectedInView(), alpha);

        // Left; behind the screen's back one application goes away and another arrives.
        f.screen.reset();
        QVERIFY(QDir(gamma).removeRecursively());
        f.bundle("Delta", "com.example.delta");
        f.open();
        QVERIFY(f.waitForSizes());
        QCOMPARE(f.listed(), (QStringList{"Alpha", "Beta", "Delta"}));
        QCOMPARE(f.labelText("appCount"), QString("3 ứng dụng"));
        QCOMPARE(f.selectedInView(), alpha);
        QVERIFY(f.detail());
        QCOMPARE(f.detail()->app().url, alpha);

        // The selected application itself removed while away: the placeholder, no row selected.
        f.screen.reset();
        QVERIFY(QDir(alpha).removeRecursively());
        f.open();
        QVERIFY(f.waitForSizes());
        QCOMPARE(f.listed(), (QStringList{"Beta", "Delta"}));
        QCOMPARE(f.selectedInView(), QString());
        QCOMPARE(f.find<QStackedWidget>("detailPane")->currentWidget()->objectName(),
                 QString("detailPlaceholder"));
    }

    void sortBySizeWhileSizesArrive()
    {
        Fixture f;
        const QString alpha = f.bundle("Alpha", "com.example.alpha", 300000);
        const QString beta = f.bundle("Beta", "org.sample.beta", 5000);
        const QString gamma = f.bundle("Gamma", "com.example.gamma", 90000);
        const QString delta = f.bundle("Delta", "com.example.delta", 600000);

        // Picked before the sizes are known; the rows move as each size arrives.
        f.build();
        auto* sort = f.find<QComboBox>("sortPicker");
        sort->setCurrentIndex(1);
        QCOMPARE(f.model->sort(), UninstallerModel::SortMode::size);

        const QAbstractItemModel* rows = f.list()->model();
        QSignalSpy resets(rows, &QAbstractItemModel::modelReset);
        int arrivals = 0;
        bool viewFollowed = true;
        bool selectionFollowed = true;
        connect(f.model.get(), &UninstallerModel::loadingChanged, this, [&] {
            if (f.model->loading()) return;
            // The list is stored, no size yet: select Beta, the smallest, and watch it move.
            QVERIFY(f.click(beta));
            resets.clear();
        });
        // Connected after the screen's own connections, so the view has already updated.
        connect(f.model.get(), &UninstallerModel::appsChanged, this, [&] {
            if (f.model->loading() || f.model->apps().isEmpty()) return;
            ++arrivals;
            QStringList expected;
            for (const InstalledApp& app : f.model->visibleApps())
                expected.append(app.url);
            viewFollowed = viewFollowed && f.listedUrls() == expected;
            if (!f.model->selectedID()) return;
            selectionFollowed = selectionFollowed && f.selectedInView() == beta &&
                                f.list()->currentIndex().data(AppListModel::UrlRole) == beta;
        });
        f.screen->show();
        QVERIFY(f.waitForSizes());
        QVERIFY(arrivals >= 4);
        QVERIFY(viewFollowed);
        QVERIFY(selectionFollowed);
        // Rows were moved in place, never rebuilt.
        QCOMPARE(resets.count(), 0);
        QCOMPARE(f.listedUrls(), (QStringList{delta, alpha, gamma, beta}));
        for (const QString& url : {alpha, beta, gamma, delta})
            QCOMPARE(f.rowOf(url).data(AppListModel::SizeTextRole).toString(),
                     formatBytes(TreeBuilder::expectedAllocated(url)));
    }

    void protectedApplication()
    {
        Fixture f;
        const QString outside = makeBundle(f.root + "/outside", "Linked.app", "com.example.linked");
        QVERIFY(TreeBuilder::makeLink(outside, f.apps + "/Linked.app"));
        const QString plain = f.bundle("Plain", "com.example.plain");
        f.open();
        QVERIFY(f.waitForSizes());
        const QModelIndex linked = f.rowOf(f.apps + "/Linked.app");
        QVERIFY(linked.data(AppListModel::ProtectedRole).toBool());
        QVERIFY(!f.rowOf(plain).data(AppListModel::ProtectedRole).toBool());
        // The lock at the trailing edge explains itself.
        const QRect rect = f.list()->visualRect(linked);
        const QPoint onLock(rect.right() - 12, rect.center().y());
        QHelpEvent help(QEvent::ToolTip, onLock, f.list()->viewport()->mapToGlobal(onLock));
        QApplication::sendEvent(f.list()->viewport(), &help);
        QCOMPARE(QToolTip::text(), QString("Ứng dụng hệ thống"));
        QToolTip::hideText();

        QVERIFY(f.click(f.apps + "/Linked.app"));
        QVERIFY(f.waitForLeftovers());
        QVERIFY(f.find("protectedNotice")->isVisible());
        QCOMPARE(f.labelText("protectedNoticeText"),
                 QString("Đây là ứng dụng hệ thống của macOS, không thể gỡ."));
        QVERIFY(!f.find("runningNotice")->isVisible());
        QVERIFY(f.detail()->app().size.has_value());
        QVERIFY(!f.uninstallButton()->isEnabled());

        QVERIFY(f.click(plain));
        QVERIFY(f.waitForLeftovers());
        QVERIFY(!f.find("protectedNotice")->isVisible());
        QVERIFY(f.uninstallButton()->isEnabled());
    }

    void lastUsedAndRunningNotice()
    {
        Fixture f;
        BundleShape shape;
        shape.identifier = "com.example.running";
        shape.withExecutable = true;
        const QString url = makeBundle(f.apps, "Running.app", shape);
        // Read after it was installed: accessed later than modified.
        const timespec times[2] = {{1700000500, 0}, {1700000000, 0}};
        QCOMPARE(utimensat(AT_FDCWD, (url + "/Contents/MacOS/main").toUtf8().constData(), times, 0),
                 0);
        f.open();
        QVERIFY(f.waitForSizes());
        QVERIFY(f.click(url));
        const QDate day = QDateTime::fromSecsSinceEpoch(1700000500).toLocalTime().date();
        QCOMPARE(f.labelText("appLastUsed"),
                 "Dùng lần cuối: " + QLocale::system().toString(day, QLocale::ShortFormat));
        QVERIFY(!f.find("appLastUsed")->isHidden());
        // No version: no "v" text.
        QVERIFY(f.find("appVersion")->isHidden());
        QVERIFY(f.find("runningNotice")->isHidden());

        // Started while the pane is shown: the notice appears when the window is active again.
        const auto process = startProcess(url + "/Contents/MacOS/main", false);
        QVERIFY(process);
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        f.screen->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.screen.get()));
        QVERIFY(f.find("runningNotice")->isVisible());
        QCOMPARE(f.labelText("runningNoticeText"),
                 QString("Ứng dụng đang chạy. SorviClean sẽ thoát ứng dụng trước khi gỡ."));
        QVERIFY(!f.find("protectedNotice")->isVisible());
        process->kill();
        process->waitForFinished();
    }

    void sizeLeftoversConfirmationAndAlert()
    {
        Fixture f;
        const QString alpha = f.bundle("Alpha", "com.example.alpha", 100000, "1.0");
        f.bundle("Beta", "org.sample.beta");
        const QString cache = f.leftover("Caches/com.example.alpha/blob", 40000);
        const QString support = f.leftover("Application Support/Alpha/state", 20000);
        // Selected before its size is known: the button waits for it.
        bool checked = false;
        connect(f.model.get(), &UninstallerModel::loadingChanged, this, [&] {
            if (f.model->loading()) return;
            QVERIFY(f.click(alpha));
            QCOMPARE(f.labelText("appSize"), QString("Đang tính..."));
            QVERIFY(!f.uninstallButton()->isEnabled());
            checked = true;
        });
        f.open();
        QVERIFY(f.waitForSizes());
        QVERIFY(checked);
        QVERIFY(f.waitForLeftovers());
        const qint64 bundleSize = TreeBuilder::expectedAllocated(alpha);
        QCOMPARE(f.labelText("appSize"), formatBytes(bundleSize));
        QCOMPARE(f.labelText("appVersion"), QString("v1.0"));
        QCOMPARE(f.find<QLineEdit>("appIdentifier")->text(), QString("com.example.alpha"));
        QVERIFY(f.uninstallButton()->isEnabled());
        QCOMPARE(f.model->totalSelectedSize(), bundleSize + f.model->leftovers().value(0).size +
                                                   f.model->leftovers().value(1).size);
        QCOMPARE(f.uninstallButton()->text(),
                 "Gỡ cài đặt · " + formatBytes(f.model->totalSelectedSize()));
        QCOMPARE(f.labelText("leftoversHeading"), QString("File liên quan"));
        auto* area = f.find<QStackedWidget>("leftoverArea");
        QCOMPARE(area->currentWidget()->objectName(), QString("leftoverList"));
        auto* leftovers = f.find<QListView>("leftoverList");
        const QAbstractItemModel* rows = leftovers->model();
        QCOMPARE(rows->rowCount(), 2);
        QStringList shown;
        for (int row = 0; row < 2; ++row) {
            const QModelIndex index = rows->index(row, 0);
            shown.append(index.data(CleanItemListModel::ParentRole).toString() + u'/' +
                         index.data().toString());
            QCOMPARE(index.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
        }
        const QString shownRoot = "~" + f.library.mid(TestHome::path().size());
        shown.sort();
        QCOMPARE(shown, (QStringList{shownRoot + "/Application Support/Alpha",
                                     shownRoot + "/Caches/com.example.alpha"}));

        // Unticking every leftover by clicking its box leaves the bundle alone chosen.
        auto* delegate = qobject_cast<CleanItemDelegate*>(leftovers->itemDelegate());
        QVERIFY(delegate);
        for (int row = 0; row < 2; ++row) {
            const QRect box = leftovers->visualRect(rows->index(row, 0));
            QTest::mouseClick(leftovers->viewport(), Qt::LeftButton, {},
                              QPoint(box.left() + 12, box.center().y()));
        }
        QVERIFY(f.model->selectedLeftovers().isEmpty());
        QCOMPARE(rows->index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        QVERIFY(f.uninstallButton()->isEnabled());
        QCOMPARE(f.uninstallButton()->text(), "Gỡ cài đặt · " + formatBytes(bundleSize));

        QTest::mouseClick(f.uninstallButton(), Qt::LeftButton);
        QMessageBox* box = waitForBox(f.screen.get(), "uninstallConfirmation");
        QVERIFY(box);
        QCOMPARE(box->text(), QString("Gỡ Alpha?"));
        QCOMPARE(box->informativeText(), "Ứng dụng và 0 file liên quan (" + formatBytes(bundleSize) +
                                             ") sẽ được chuyển vào Thùng rác.");
        QCOMPARE(box->findChild<QPushButton*>("confirmButton")->text(), QString("Gỡ cài đặt"));
        auto* cancel = box->findChild<QPushButton*>("cancelButton");
        QCOMPARE(cancel->text(), QString("Huỷ"));
        QTest::mouseClick(cancel, Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return !f.detail()->confirming(); }, 5000));
        QVERIFY(FileSystem::exists(alpha));

        // The context menu of a leftover offers to reveal it.
        const QRect second = leftovers->visualRect(rows->index(1, 0));
        emit leftovers->customContextMenuRequested(second.center());
        auto* menu = f.screen->findChild<QMenu*>("leftoverContextMenu");
        QVERIFY(menu);
        QCOMPARE(menu->actions().size(), 1);
        QCOMPARE(menu->actions().first()->text(), QString("Hiện trong Finder"));
        menu->close();

        // Ticking one again: one related file and its size in the message.
        const QRect first = leftovers->visualRect(rows->index(0, 0));
        QTest::mouseClick(leftovers->viewport(), Qt::LeftButton, {},
                          QPoint(first.left() + 12, first.center().y()));
        QCOMPARE(f.model->selectedLeftovers().size(), 1);
        QCOMPARE(f.detail()->confirmationMessage(), "Ứng dụng và 1 file liên quan (" +
                                                        formatBytes(f.model->totalSelectedSize()) +
                                                        ") sẽ được chuyển vào Thùng rác.");

        // Confirmed: the bundle and the ticked leftover go, the unticked one stays.
        const qint64 freed = f.model->totalSelectedSize();
        QTest::mouseClick(f.uninstallButton(), Qt::LeftButton);
        box = waitForBox(f.screen.get(), "uninstallConfirmation");
        QVERIFY(box);
        QTest::mouseClick(box->findChild<QPushButton*>("confirmButton"), Qt::LeftButton);

        QMessageBox* alert = waitForBox(f.screen.get(), "uninstallAlert");
        QVERIFY(alert);
        QCOMPARE(alert->windowTitle(), QString("Gỡ ứng dụng"));
        QCOMPARE(alert->informativeText(),
                 "Đã gỡ Alpha và chuyển " + formatBytes(freed) + " vào Thùng rác.");
        QVERIFY(!FileSystem::exists(alpha));
        QCOMPARE(int(FileSystem::exists(cache)) + int(FileSystem::exists(support)), 1);
        QVERIFY(QTest::qWaitFor([&] { return !f.model->working(); }, 10000));
        QCOMPARE(f.find<QStackedWidget>("detailPane")->currentWidget()->objectName(),
                 QString("detailPlaceholder"));
        QCOMPARE(f.labelText("appCount"), QString("1 ứng dụng"));
        QCOMPARE(f.listed(), QStringList{"Beta"});

        auto* ok = alert->findChild<QPushButton*>("alertOkButton");
        QCOMPARE(ok->text(), QString("OK"));
        QTest::mouseClick(ok, Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return !f.model->message(); }, 5000));
        QCOMPARE(f.view()->alert(), nullptr);
    }

    void messageWaitingFromAnEarlierVisitIsShown()
    {
        Fixture f;
        f.model->setMessage(QString("Gỡ X chưa hoàn tất.\n\nKhông xoá được 1 mục:\n<b>x</b>: lỗi"));
        f.open();
        QMessageBox* alert = waitForBox(f.screen.get(), "uninstallAlert");
        QVERIFY(alert);
        QCOMPARE(alert->informativeText(), *f.model->message());
        // Escape dismisses it too, and clears the message.
        QTest::keyClick(alert, Qt::Key_Escape);
        QVERIFY(QTest::qWaitFor([&] { return !f.model->message(); }, 5000));
        QVERIFY(f.waitForSizes());
    }

    void hugeNamesAndManyLeftoversKeepTheLayout()
    {
        Fixture f;
        const QString name = QString(240, u'W');
        const QString huge = f.bundle(name, "com.example.huge");
        for (int i = 0; i < 300; ++i)
            f.leftover(
                QStringLiteral("Caches/com.example.huge.%1%2").arg(i).arg(QString(200, u'n')), 100);
        f.open();
        QVERIFY(f.waitForSizes());
        QVERIFY(f.click(huge));
        QVERIFY(f.waitForLeftovers());
        QCOMPARE(f.find<QListView>("leftoverList")->model()->rowCount(), 300);
        QCoreApplication::processEvents();
        // Nothing grew past the window: the list pane keeps its width, the detail fits beside it.
        QCOMPARE(f.find("listPane")->width(), 330);
        QVERIFY(f.screen->width() <= 960);
        QVERIFY(f.detail()->width() <= 960 - 330);
        auto* title = f.find<ElidedLabel>("appName");
        QCOMPARE(title->fullText(), name);
        QVERIFY(title->text().contains(QChar(0x2026)));
        QVERIFY(title->height() < 3 * title->fontMetrics().height());
        const QModelIndex row = f.rowOf(huge);
        QCOMPARE(f.list()->visualRect(row).height(),
                 f.list()->itemDelegate()->sizeHint(QStyleOptionViewItem(), row).height());
    }

    void homeFolderShownAsTilde_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("shown");
        QTest::newRow("below home") << "/home/an/Library/Caches" << "/home/an" << "~/Library/Caches";
        QTest::newRow("home itself") << "/home/an" << "/home/an" << "~";
        QTest::newRow("longer user name") << "/home/anna/Library" << "/home/an" << "/home/anna/Library";
        QTest::newRow("elsewhere") << "/opt/Library" << "/home/an" << "/opt/Library";
        QTest::newRow("home inside another path") << "/mnt/home/an/x" << "/home/an" << "/mnt/home/an/x";
        QTest::newRow("root home") << "/Library" << "/" << "/Library";
    }

    void homeFolderShownAsTilde()
    {
        QFETCH(QString, folder);
        QFETCH(QString, home);
        QFETCH(QString, shown);
        QCOMPARE(LeftoverListModel::abbreviateHome(folder, home), shown);
    }

    void bundleIconOrGeneric()
    {
        Fixture f;
        const auto withIcon = [&](const QString& name, const QString& iconEntry) {
            BundleShape shape;
            shape.identifier = "com.example." + name.toLower();
            shape.extraEntries = stringEntry("CFBundleIconFile", iconEntry);
            const QString url = makeBundle(f.apps, name + ".app", shape);
            QDir().mkpath(url + "/Contents/Resources");
            return url;
        };
        const QString png = withIcon("Png", "AppIcon.png");
        QImage red(256, 256, QImage::Format_ARGB32);
        red.fill(Qt::red);
        QVERIFY(red.save(png + "/Contents/Resources/AppIcon.png"));
        // The usual form: a name without extension, an .icns file beside it.
        const QString icns = withIcon("Icns", "AppIcon");
        QImage green(128, 128, QImage::Format_ARGB32);
        green.fill(Qt::green);
        QImageWriter writer(icns + "/Contents/Resources/AppIcon.icns", "icns");
        QVERIFY2(writer.write(green), qPrintable(writer.errorString()));
        // A file that is not an image at all.
        const QString broken = withIcon("Broken", "Broken");
        QVERIFY(writeFile(broken + "/Contents/Resources/Broken.icns", 5000));
        const QString plain = f.bundle("Plain", "com.example.plain");

        AppIcons icons;
        QSignalSpy loaded(&icons, &AppIcons::iconLoaded);
        for (const QString& url : {icns, png, plain, broken})
            QVERIFY(!icons.icon(url, 32).isNull());
        QVERIFY(QTest::qWaitFor([&] { return loaded.count() == 4; }, 10000));
        QVERIFY(icons.hasOwnIcon(icns));
        QVERIFY(icons.hasOwnIcon(png));
        QVERIFY(!icons.hasOwnIcon(plain));
        QVERIFY(!icons.hasOwnIcon(broken));
        QCOMPARE(icons.icon(icns, 72).toImage().pixelColor(36, 36), QColor(Qt::green));
        const QImage drawn = icons.icon(png, 72).toImage();
        QCOMPARE(drawn.size(), QSize(72, 72));
        QCOMPARE(drawn.pixelColor(36, 36), QColor(Qt::red));
        QVERIFY(!icons.icon(broken, 72).isNull());
    }
};

SORVI_TEST_GUI_MAIN(TestUninstallerView)
#include "tst_uninstaller_view.moc"
