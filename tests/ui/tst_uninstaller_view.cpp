#include "platform/file_system.h"
#include "support/bundle_fixture.h"
#include "support/recording_runner.h"
#include "support/test_home.h"
#include "ui/app_detail_view.h"
#include "ui/app_icons.h"
#include "ui/destinations.h"
#include "ui/elided_label.h"
#include "ui/row_painter.h"
#include "ui/uninstaller_view.h"
#include "window_fixture.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QStackedWidget>
#include <QToolTip>

using namespace BundleFixture;
using TreeBuilder::writeFile;

namespace {

// Bundles and a Library in the temporary home, the model on them, the screen the window builds.
struct Fixture : AppLayout
{
    RecordingRunner runner;
    std::unique_ptr<UninstallerModel> model = std::make_unique<UninstallerModel>(
        UninstallerModel::Services{.scriptRunner = &runner, .folders = folders});
    std::unique_ptr<QWidget> screen;

    Fixture() : AppLayout(freshAppLayout("v")) {}
    ~Fixture()
    {
        screen.reset();
        // Sizes of the last load may still be arriving; let them land before the model goes.
        Await::until([&] { return measured(); }, "the last sizes");
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
        return !model->loading() && std::ranges::all_of(model->apps(), [](const auto& app) {
            return app.size.has_value();
        });
    }

    template <typename T = QWidget> T* find(const QString& name) const
    {
        return screen->findChild<T*>(name);
    }
    QString text(const QString& name) const { return find<QLabel>(name)->text(); }
    QPushButton* uninstall() const { return find<QPushButton>("uninstallButton"); }
    AppDetailView* detail() const { return qobject_cast<UninstallerView*>(screen.get())->detail(); }
    QListView* list() const { return find<QListView>("appList"); }
    QString pane() const
    {
        return find<QStackedWidget>("detailPane")->currentWidget()->objectName();
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
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {},
                          list()->visualRect(rowOf(url)).center());
        return model->selectedID() == url;
    }
    QString selectedInView() const
    {
        const QModelIndexList rows = list()->selectionModel()->selectedRows();
        return rows.size() == 1 ? rows.first().data(RowRole::Url).toString() : QString();
    }
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
    void uninstallFlow();
    void ownIconThemeIconOrGeneric();
};

void TestUninstallerView::listFollowsLoadsSortsAndSearches()
{
    Fixture f;
    const QString alpha = f.bundle("Alpha", "com.example.alpha", 5000, QStringLiteral("2.1"));
    const QString beta = f.bundle("Beta", "com.example.beta", 300000);
    f.build();
    // Sorted by size before any size is known: the rows move as the sizes arrive.
    f.find<QComboBox>("sortPicker")->setCurrentIndex(1);
    QSignalSpy resets(f.list()->model(), &QAbstractItemModel::modelReset);
    QList<bool> overlayAndReload;
    connect(f.model.get(), &UninstallerModel::loadingChanged, this, [&] {
        overlayAndReload << !f.find("loadingOverlay")->isHidden()
                         << f.find("reloadButton")->isEnabled();
        // The list is stored, no size yet: select Alpha, the smaller, and let it move.
        if (!f.model->loading()) QVERIFY(f.click(alpha));
        resets.clear();
    });
    f.screen->show();
    QVERIFY(Await::until([&] { return f.measured(); }, "the sizes"));
    QCOMPARE(overlayAndReload, (QList<bool>{true, false, false, true}));
    QCOMPARE(f.listed(), (QStringList{beta, alpha}));
    // Moved in place: the selection followed its application, nothing was rebuilt.
    QCOMPARE(f.selectedInView(), alpha);
    QCOMPARE(resets.count(), 0);
    QCOMPARE(f.listed(RowRole::Subtitle), (QStringList{"com.example.beta", "Phiên bản 2.1"}));
    QCOMPARE(f.rowOf(beta).data(RowRole::TrailingText).toString(),
             formatBytes(TreeBuilder::expectedAllocated(beta)));

    // The count is of every loaded application; a search that hides the selection keeps it.
    QTest::keyClicks(f.find<QLineEdit>("searchField"), "EXAMPLE.b");
    QCOMPARE(f.listed() << f.text("appCount") << f.detail()->app().url,
             (QStringList{beta, "2 ứng dụng", alpha}));
    f.find<QLineEdit>("searchField")->clear();
    QCOMPARE(f.selectedInView(), alpha);

    // Each visit reads the list afresh: the selection stays, or the placeholder once it is gone.
    f.screen.reset();
    const QString gamma = f.bundle("Gamma", "com.example.gamma");
    QVERIFY(f.open());
    QCOMPARE(f.listed(), (QStringList{beta, alpha, gamma}));
    QCOMPARE(f.selectedInView(), alpha);
    f.screen.reset();
    QVERIFY(QDir(alpha).removeRecursively());
    QVERIFY(f.open());
    QCOMPARE(f.selectedInView(), QString());
    QCOMPARE(f.pane(), "detailPlaceholder");
}

void TestUninstallerView::uninstallFlow()
{
    Fixture f;
    const QString alpha = f.bundle("Alpha", "com.example.alpha", 100000, QStringLiteral("1.0"));
    f.bundle("Beta", "com.example.beta");
    const QString cache = f.leftover("Caches/com.example.alpha/blob", 40000);
    const QString support = f.leftover(QStringLiteral("Application Support/Alpha/state"), 20000);
    const QString linked = f.apps + "/Linked.app"; // protected: a link
    QVERIFY(TreeBuilder::makeLink(makeBundle(f.root, "Linked.app", "com.example.linked"), linked));
    // Selected before its size is known: the button waits for it.
    bool waited = false;
    connect(f.model.get(), &UninstallerModel::loadingChanged, this, [&] {
        if (f.model->loading() || waited) return;
        QVERIFY(f.click(alpha));
        waited = f.text("appSize") == u"Đang tính..." && !f.uninstall()->isEnabled();
    });
    QVERIFY(f.open());
    QVERIFY(waited);
    AWAIT_UNTIL(!f.model->loadingLeftovers(), "the leftover search");
    const qint64 bundleSize = TreeBuilder::expectedAllocated(alpha);
    QCOMPARE(f.text("appSize"), formatBytes(bundleSize));
    QCOMPARE(f.find<ElidedLabel>("appVersion")->fullText(), QStringLiteral("v1.0"));
    QCOMPARE(f.uninstall()->text(), "Gỡ cài đặt · " + formatBytes(f.model->totalSelectedSize()));
    // The leftover matched by name alone starts unticked; folders shown with "~".
    auto* leftovers = f.find<QListView>("leftoverList");
    QCOMPARE((QList{leftovers->model()->index(0, 0).data(Qt::CheckStateRole).toInt(),
                    leftovers->model()->index(1, 0).data(Qt::CheckStateRole).toInt()}),
             (QList<int>{Qt::Checked, Qt::Unchecked}));
    const QString home = "~" + f.library.mid(TestHome::path().size());
    QVERIFY(leftovers->model()->index(0, 0).data(RowRole::Subtitle).toString().startsWith(home));

    // Every leftover unticked: the bundle alone, and 0 related files; cancelled, nothing goes.
    tick(leftovers, 0);
    QCOMPARE(f.uninstall()->text(), "Gỡ cài đặt · " + formatBytes(bundleSize));
    f.uninstall()->click();
    QMessageBox* box = shownBox(*f.screen, "uninstallConfirmation");
    QVERIFY(box);
    const auto message = [](int files, qint64 size) {
        return QStringLiteral("Ứng dụng và %1 file liên quan (%2) sẽ được chuyển vào Thùng rác.")
            .arg(QString::number(files), formatBytes(size));
    };
    QCOMPARE(
        (QStringList{box->text(), box->informativeText(), buttonOf(box, "confirmButton")->text()}),
        (QStringList{"Gỡ Alpha?", message(0, bundleSize), "Gỡ cài đặt"}));
    buttonOf(box, "cancelButton")->click();
    QVERIFY(!f.detail()->confirming());
    QVERIFY(FileSystem::exists(alpha));

    // One ticked again; confirmed: the bundle and that leftover go, the other stays.
    tick(leftovers, 0);
    const qint64 freed = f.model->totalSelectedSize();
    f.uninstall()->click();
    box = shownBox(*f.screen, "uninstallConfirmation");
    QCOMPARE(box->informativeText(), message(1, freed));
    buttonOf(box, "confirmButton")->click();
    QMessageBox* alert = shownBox(*f.screen, "uninstallAlert");
    QVERIFY(alert);
    const QString done = "Đã gỡ Alpha và chuyển " + formatBytes(freed) + " vào Thùng rác.";
    QCOMPARE((QStringList{alert->windowTitle(), alert->informativeText()}),
             (QStringList{"Gỡ ứng dụng", done}));
    QVERIFY(!FileSystem::exists(alpha));
    QCOMPARE(int(FileSystem::exists(cache)) + int(FileSystem::exists(support)), 1);
    AWAIT_UNTIL(!f.model->working(), "the end of the uninstall");
    QCOMPARE((QStringList{f.pane(), f.text("appCount")}),
             (QStringList{"detailPlaceholder", "2 ứng dụng"}));

    // Left before the alert was read: shown again on the next visit; Escape clears it.
    f.screen.reset();
    QVERIFY(f.open());
    alert = shownBox(*f.screen, "uninstallAlert");
    QVERIFY(alert);
    QCOMPARE(alert->informativeText(), done);
    QTest::keyClick(alert, Qt::Key_Escape);
    AWAIT_UNTIL(!f.model->message(), "the message to clear");

    // The protected one: a lock that explains itself, the notice, no uninstall.
    QCOMPARE(f.rowOf(linked).data(RowRole::TrailingMark).toInt(), int(RowMark::lock));
    const QRect rect = f.list()->visualRect(f.rowOf(linked));
    const QPoint onLock(rect.right() - 12, rect.center().y());
    QHelpEvent help(QEvent::ToolTip, onLock, f.list()->viewport()->mapToGlobal(onLock));
    QApplication::sendEvent(f.list()->viewport(), &help);
    QCOMPARE(QToolTip::text(), QStringLiteral("Ứng dụng hệ thống"));
    QVERIFY(f.click(linked));
    AWAIT_UNTIL(!f.model->loadingLeftovers(), "the leftover search");
    QVERIFY(f.find("protectedNotice")->isVisible() && !f.find("runningNotice")->isVisible());
    QVERIFY(!f.uninstall()->isEnabled());
}

// Icon files (a PNG, a file that is not an image), a theme name, a name that is a path, none.
void TestUninstallerView::ownIconThemeIconOrGeneric()
{
    const QString png = TestHome::path() + "/icons/a.png";
    const QString broken = TestHome::path() + "/icons/c.icns";
    QImage red(256, 256, QImage::Format_ARGB32);
    red.fill(Qt::red);
    QVERIFY(QDir().mkpath(QFileInfo(png).path()) && red.save(png) && writeFile(broken, 5000));
    QVERIFY(QIcon::hasThemeIcon("folder"));
    const QList<std::pair<QString, QString>> icons{
        {png, ""}, {broken, ""}, {"", "folder"}, {"", png}, {"", ""}};
    QList<InstalledApp> apps;
    for (const auto& [path, name] : icons)
        apps.append(
            {.url = "/app" + QString::number(apps.size()), .iconPath = path, .iconName = name});
    AppIcons cache;
    QSignalSpy loaded(&cache, &AppIcons::iconLoaded);
    for (const InstalledApp& app : apps)
        QVERIFY(!cache.icon(app, 32).isNull());
    QVERIFY(Await::signal(loaded, "the two icon files", 2));
    QList<bool> own;
    for (const InstalledApp& app : apps)
        own.append(cache.hasOwnIcon(app.url));
    QCOMPARE(own, (QList<bool>{true, false, true, false, false}));
    const QImage drawn = cache.icon(apps[0], 72).toImage();
    QCOMPARE(drawn.size(), QSize(72, 72));
    QCOMPARE(drawn.pixelColor(36, 36), QColor(Qt::red));
}

SORVI_TEST_GUI_MAIN(TestUninstallerView)
#include "tst_uninstaller_view.moc"
