#include "platform/file_system.h"
#include "platform/running_apps.h"
#include "support/bundle_fixture.h"
#include "support/recording_runner.h"
#include "support/test_home.h"
#include "ui/app_detail_view.h"
#include "ui/app_icons.h"
#include "ui/destinations.h"
#include "ui/row_painter.h"
#include "ui/uninstaller_view.h"
#include "window_fixture.h"

#include <QComboBox>
#include <QImageWriter>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QStackedWidget>
#include <QToolTip>

using namespace BundleFixture;
using TreeBuilder::writeFile;

namespace {

// An application folder and a Library in the temporary home, the model working on them, and the
// screen as the window builds it.
struct Fixture : AppLayout
{
    RecordingRunner runner;
    RunningApps& registry = defaultRunningApps();
    std::unique_ptr<UninstallerModel> model;
    std::unique_ptr<QWidget> screen;

    Fixture() : AppLayout(freshAppLayout(QStringLiteral("v")))
    {
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
        // Sizes of the last load may still be arriving; let them land before the model goes.
        Await::until([&] { return measured(); }, "the last sizes");
    }

    QString bundle(const QString& name, qint64 payload = 0, const QString& version = {})
    {
        BundleShape shape;
        shape.identifier = QStringLiteral("com.example.") + name.toLower();
        shape.version = version;
        QString url = makeBundle(apps, name + QStringLiteral(".app"), shape);
        if (payload > 0) writeFile(url + QStringLiteral("/Contents/Resources/payload"), payload);
        return url;
    }
    QString leftover(const QString& relative, qint64 size = 5000)
    {
        writeFile(library + u'/' + relative, size);
        return library + u'/' + relative;
    }
    void build()
    {
        screen.reset(createUninstallerScreen({nullptr, model.get(), nullptr, nullptr}, nullptr));
        screen->resize(960, 620);
    }
    bool open()
    {
        build();
        screen->show();
        return Await::until([&] { return measured(); }, "the application list and its sizes");
    }
    bool measured() const
    {
        const QList<InstalledApp>& all = model->apps();
        return !model->loading() && std::all_of(all.begin(), all.end(), [](const InstalledApp& a) {
            return a.size.has_value();
        });
    }
    bool leftoversFound() const
    {
        return Await::until([&] { return !model->loadingLeftovers(); }, "the leftover search");
    }

    template <typename T = QWidget> T* find(const QString& name) const
    {
        return screen->findChild<T*>(name);
    }
    QString text(const QString& name) const { return find<QLabel>(name)->text(); }
    AppDetailView* detail() const { return qobject_cast<UninstallerView*>(screen.get())->detail(); }
    QListView* list() const { return find<QListView>(QStringLiteral("appList")); }
    QString pane() const
    {
        return find<QStackedWidget>(QStringLiteral("detailPane"))->currentWidget()->objectName();
    }
    QStringList listed(int role = RowRole::Url) const
    {
        QStringList values;
        for (int row = 0; row < list()->model()->rowCount(); ++row)
            values.append(list()->model()->index(row, 0).data(role).toString());
        return values;
    }
    QModelIndex rowOf(const QString& url) const
    {
        return list()->model()->index(int(listed().indexOf(url)), 0);
    }
    bool click(const QString& url)
    {
        const QModelIndex index = rowOf(url);
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {},
                          list()->visualRect(index).center());
        return model->selectedID() == url;
    }
    QString selectedInView() const
    {
        const QModelIndexList rows = list()->selectionModel()->selectedRows();
        return rows.size() == 1 ? rows.first().data(RowRole::Url).toString() : QString();
    }
    QPushButton* uninstall() const { return find<QPushButton>(QStringLiteral("uninstallButton")); }
};

// Clicks the check box of row `row` of a list of checkable rows.
void tick(QListView* list, int row)
{
    const QRect box = list->visualRect(list->model()->index(row, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, {box.left() + 14, box.center().y()});
}

} // namespace

class TestUninstallerView : public QObject
{
    Q_OBJECT

private slots:
    void listFollowsLoadsSortsAndSearches();
    void protectedApplication();
    void uninstallWaitsForTheSize();
    void uninstallFlow();
    void leftoversOfAnEarlierSelectionNotShown();
    void messageWaitingFromAnEarlierVisitIsShown();
    void ownIconThemeIconOrGeneric();
};

void TestUninstallerView::listFollowsLoadsSortsAndSearches()
{
    Fixture f;
    const QString alpha = f.bundle(QStringLiteral("Alpha"), 5000, QStringLiteral("2.1"));
    const QString beta = f.bundle(QStringLiteral("Beta"), 300000);
    f.build();
    // Sorted by size before any size is known: the rows move as the sizes arrive.
    f.find<QComboBox>(QStringLiteral("sortPicker"))->setCurrentIndex(1);
    QSignalSpy resets(f.list()->model(), &QAbstractItemModel::modelReset);
    QList<bool> overlay;
    QList<bool> reload;
    connect(f.model.get(), &UninstallerModel::loadingChanged, this, [&] {
        overlay.append(!f.find(QStringLiteral("loadingOverlay"))->isHidden());
        reload.append(f.find(QStringLiteral("reloadButton"))->isEnabled());
        // The list is stored, no size yet: select Alpha, the smaller, and let it move.
        if (!f.model->loading()) QVERIFY(f.click(alpha));
        resets.clear();
    });
    f.screen->show();
    QVERIFY(Await::until([&] { return f.measured(); }, "the sizes"));
    QCOMPARE(overlay, (QList<bool>{true, false}));
    QCOMPARE(reload, (QList<bool>{false, true}));
    QCOMPARE(f.listed(), (QStringList{beta, alpha}));
    // Moved in place: the selection followed its application, nothing was rebuilt.
    QCOMPARE(f.selectedInView(), alpha);
    QCOMPARE(resets.count(), 0);
    QCOMPARE(f.listed(RowRole::Subtitle), (QStringList{"com.example.beta", "Phiên bản 2.1"}));
    QCOMPARE(f.rowOf(beta).data(RowRole::TrailingText).toString(),
             formatBytes(TreeBuilder::expectedAllocated(beta)));

    // The count is of every loaded application, also while a search hides some.
    QTest::keyClicks(f.find<QLineEdit>(QStringLiteral("searchField")), QStringLiteral("EXAMPLE.b"));
    QCOMPARE(f.listed(), QStringList{beta});
    QCOMPARE(f.text(QStringLiteral("appCount")), QStringLiteral("2 ứng dụng"));
    // The search hid the selected row; the selection and its detail stay.
    QCOMPARE(f.detail()->app().url, alpha);
    f.find<QLineEdit>(QStringLiteral("searchField"))->clear();
    QCOMPARE(f.selectedInView(), alpha);

    // Left; behind the screen's back one application arrives. Back: the list is read afresh
    // and the selection stays; once the selected application itself is gone, the placeholder.
    f.screen.reset();
    const QString gamma = f.bundle(QStringLiteral("Gamma"));
    QVERIFY(f.open());
    QCOMPARE(f.listed(), (QStringList{beta, alpha, gamma}));
    QCOMPARE(f.selectedInView(), alpha);
    f.screen.reset();
    QVERIFY(QDir(alpha).removeRecursively());
    QVERIFY(f.open());
    QCOMPARE(f.selectedInView(), QString());
    QCOMPARE(f.pane(), QStringLiteral("detailPlaceholder"));
}

void TestUninstallerView::protectedApplication()
{
    Fixture f;
    // A bundle reached through a link is protected.
    const QString linked = f.apps + QStringLiteral("/Linked.app");
    QVERIFY(TreeBuilder::makeLink(makeBundle(f.root, "Linked.app", "com.example.linked"), linked));
    QVERIFY(f.open());
    // The protected one: a lock that explains itself, the notice, no uninstall.
    QCOMPARE(f.rowOf(linked).data(RowRole::TrailingMark).toInt(), int(RowMark::lock));
    const QRect rect = f.list()->visualRect(f.rowOf(linked));
    const QPoint onLock(rect.right() - 12, rect.center().y());
    QHelpEvent help(QEvent::ToolTip, onLock, f.list()->viewport()->mapToGlobal(onLock));
    QApplication::sendEvent(f.list()->viewport(), &help);
    QCOMPARE(QToolTip::text(), QStringLiteral("Ứng dụng hệ thống"));
    QVERIFY(f.click(linked));
    QVERIFY(f.leftoversFound());
    QVERIFY(f.find(QStringLiteral("protectedNotice"))->isVisible());
    QVERIFY(!f.find(QStringLiteral("runningNotice"))->isVisible());
    QVERIFY(!f.uninstall()->isEnabled());
}

void TestUninstallerView::uninstallWaitsForTheSize()
{
    Fixture f;
    const QString alpha = f.bundle(QStringLiteral("Alpha"), 100000, QStringLiteral("1.0"));
    const QString cache = f.leftover(QStringLiteral("Caches/com.example.alpha/blob"), 40000);
    const QString support = f.leftover(QStringLiteral("Application Support/Alpha/state"), 20000);
    // Selected before its size is known: the button waits for it.
    bool waited = false;
    connect(f.model.get(), &UninstallerModel::loadingChanged, this, [&] {
        if (f.model->loading()) return;
        QVERIFY(f.click(alpha));
        waited =
            f.text(QStringLiteral("appSize")) == u"Đang tính..." && !f.uninstall()->isEnabled();
    });
    QVERIFY(f.open());
    QVERIFY(waited);
    QVERIFY(f.leftoversFound());
    const qint64 bundleSize = TreeBuilder::expectedAllocated(alpha);
    QCOMPARE(f.text(QStringLiteral("appSize")), formatBytes(bundleSize));
    QCOMPARE(f.text(QStringLiteral("appVersion")), QStringLiteral("v1.0"));
    QCOMPARE(f.uninstall()->text(), "Gỡ cài đặt · " + formatBytes(f.model->totalSelectedSize()));
    // Both leftovers listed, the one matched by name alone not ticked; the folder shown with "~"
    // for the home folder.
    auto* leftovers = f.find<QListView>(QStringLiteral("leftoverList"));
    QCOMPARE(f.model->selectedLeftovers(), QSet<QString>{QFileInfo(cache).path()});
    const QModelIndex first = leftovers->model()->index(0, 0);
    QCOMPARE(first.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(leftovers->model()->index(1, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    const QString home = "~" + f.library.mid(TestHome::path().size());
    QVERIFY(first.data(RowRole::Subtitle).toString().startsWith(home));
}

void TestUninstallerView::uninstallFlow()
{
    Fixture f;
    const QString alpha = f.bundle(QStringLiteral("Alpha"), 100000);
    f.bundle(QStringLiteral("Beta"));
    const QString cache = f.leftover(QStringLiteral("Caches/com.example.alpha/blob"), 40000);
    const QString support = f.leftover(QStringLiteral("Application Support/Alpha/state"), 20000);
    QVERIFY(f.open());
    QVERIFY(f.click(alpha));
    QVERIFY(f.leftoversFound());
    const qint64 bundleSize = TreeBuilder::expectedAllocated(alpha);
    auto* leftovers = f.find<QListView>(QStringLiteral("leftoverList"));
    // Every leftover unticked: the bundle alone, and 0 related files.
    tick(leftovers, 0);
    QVERIFY(f.model->selectedLeftovers().isEmpty());
    QVERIFY(f.uninstall()->isEnabled());
    QCOMPARE(f.uninstall()->text(), "Gỡ cài đặt · " + formatBytes(bundleSize));
    f.uninstall()->click();
    QMessageBox* box = shownBox(*f.screen, QStringLiteral("uninstallConfirmation"));
    QVERIFY(box);
    QCOMPARE(box->text(), QStringLiteral("Gỡ Alpha?"));
    const auto message = [](int files, qint64 size) {
        return QStringLiteral("Ứng dụng và %1 file liên quan (%2) sẽ được chuyển vào Thùng rác.")
            .arg(files)
            .arg(formatBytes(size));
    };
    QCOMPARE(box->informativeText(), message(0, bundleSize));
    QCOMPARE(buttonOf(box, "confirmButton")->text(), QStringLiteral("Gỡ cài đặt"));
    buttonOf(box, "cancelButton")->click();
    QVERIFY(!f.detail()->confirming());
    QVERIFY(FileSystem::exists(alpha));

    // One ticked again; confirmed: the bundle and that leftover go, the other stays.
    tick(leftovers, 0);
    const qint64 freed = f.model->totalSelectedSize();
    f.uninstall()->click();
    box = shownBox(*f.screen, QStringLiteral("uninstallConfirmation"));
    QCOMPARE(box->informativeText(), message(1, freed));
    buttonOf(box, "confirmButton")->click();
    QMessageBox* alert = shownBox(*f.screen, QStringLiteral("uninstallAlert"));
    QVERIFY(alert);
    QCOMPARE(alert->windowTitle(), QStringLiteral("Gỡ ứng dụng"));
    QCOMPARE(alert->informativeText(),
             "Đã gỡ Alpha và chuyển " + formatBytes(freed) + " vào Thùng rác.");
    QVERIFY(!FileSystem::exists(alpha));
    QCOMPARE(int(FileSystem::exists(cache)) + int(FileSystem::exists(support)), 1);
    AWAIT_UNTIL(!f.model->working(), "the end of the uninstall");
    QCOMPARE(f.pane(), QStringLiteral("detailPlaceholder"));
    QCOMPARE(f.text(QStringLiteral("appCount")), QStringLiteral("1 ứng dụng"));
    buttonOf(alert, "alertOkButton")->click();
    QVERIFY(!f.model->message());
}

void TestUninstallerView::leftoversOfAnEarlierSelectionNotShown()
{
    Fixture f;
    const QString alpha = f.bundle(QStringLiteral("Alpha"));
    const QString beta = f.bundle(QStringLiteral("Beta"));
    for (int i = 0; i < 40; ++i)
        f.leftover(QStringLiteral("Caches/com.example.alpha/f%1").arg(i));
    f.leftover(QStringLiteral("Preferences/com.example.beta.plist"));
    QVERIFY(f.open());
    // Beta chosen while Alpha's search still runs: only Beta's leftovers are ever listed.
    QVERIFY(f.click(alpha));
    QVERIFY(f.click(beta));
    QVERIFY(f.leftoversFound());
    auto* leftovers = f.find<QListView>(QStringLiteral("leftoverList"));
    QCOMPARE(f.detail()->app().url, beta);
    QCOMPARE(leftovers->model()->rowCount(), 1);
    QCOMPARE(leftovers->model()->index(0, 0).data().toString(),
             QStringLiteral("com.example.beta.plist"));
}

void TestUninstallerView::messageWaitingFromAnEarlierVisitIsShown()
{
    Fixture f;
    f.model->setMessage(
        QStringLiteral("Gỡ X chưa hoàn tất.\n\nKhông xoá được 1 mục:\n<b>x</b>: lỗi"));
    f.build();
    f.screen->show();
    QMessageBox* alert = shownBox(*f.screen, QStringLiteral("uninstallAlert"));
    QVERIFY(alert);
    QCOMPARE(alert->informativeText(), *f.model->message());
    // Escape dismisses it too, and clears the message.
    QTest::keyClick(alert, Qt::Key_Escape);
    AWAIT_UNTIL(!f.model->message(), "the message to clear");
}

void TestUninstallerView::ownIconThemeIconOrGeneric()
{
    // Icon files read off the GUI thread (a PNG, an .icns, a file that is not an image), a theme
    // icon named by a desktop entry, a name that would be a path, none.
    const QString folder = TestHome::path() + QStringLiteral("/icons");
    QImage red(256, 256, QImage::Format_ARGB32);
    red.fill(Qt::red);
    QVERIFY(QDir().mkpath(folder) && red.save(folder + QStringLiteral("/a.png")));
    QImageWriter writer(folder + QStringLiteral("/b.icns"), "icns");
    QVERIFY2(writer.write(red.scaled(128, 128)), qPrintable(writer.errorString()));
    QVERIFY(writeFile(folder + QStringLiteral("/c.icns"), 5000));
    QVERIFY(QIcon::hasThemeIcon(QStringLiteral("folder")));
    const QList<std::pair<QString, QString>> icons{
        {folder + "/a.png", ""}, {folder + "/b.icns", ""}, {folder + "/c.icns", ""},
        {"", "folder"},          {"", folder + "/a.png"},  {"", ""}};
    QList<InstalledApp> apps;
    for (const auto& [path, name] : icons) {
        apps.append(InstalledApp());
        apps.last().url = QStringLiteral("/app%1").arg(apps.size());
        apps.last().iconPath = path;
        apps.last().iconName = name;
    }
    AppIcons cache;
    QSignalSpy loaded(&cache, &AppIcons::iconLoaded);
    for (const InstalledApp& app : apps)
        QVERIFY(!cache.icon(app, 32).isNull());
    QVERIFY(Await::signal(loaded, "the three icon files", 3));
    QList<bool> own;
    for (const InstalledApp& app : apps)
        own.append(cache.hasOwnIcon(app.url));
    QCOMPARE(own, (QList<bool>{true, true, false, true, false, false}));
    const QImage drawn = cache.icon(apps[0], 72).toImage();
    QCOMPARE(drawn.size(), QSize(72, 72));
    QCOMPARE(drawn.pixelColor(36, 36), QColor(Qt::red));
}

SORVI_TEST_GUI_MAIN(TestUninstallerView)
#include "tst_uninstaller_view.moc"
