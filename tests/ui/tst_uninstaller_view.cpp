#include "platform/file_system.h"
#include "support/bundle_fixture.h"
#include "support/recording_runner.h"
#include "support/test_home.h"
#include "ui/app_detail_view.h"
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

using namespace BundleFixture;

namespace {

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
};

void TestUninstallerView::listFollowsLoadsSortsAndSearches()
{
    Fixture f;
    const QString alpha = f.bundle("Alpha", "com.example.alpha", 5000, QStringLiteral("2.1"));
    const QString beta = f.bundle("Beta", "com.example.beta", 300000);
    f.build();
    // Sorted by size before any size is known: the rows move as the sizes arrive.
    f.find<QComboBox>("sortPicker")->setCurrentIndex(1);
    connect(f.model.get(), &UninstallerModel::loadingChanged, this, [&] {
        if (!f.model->loading()) QVERIFY(f.click(alpha));
    });
    f.screen->show();
    QVERIFY(Await::until([&] { return f.measured(); }, "the sizes"));
    QCOMPARE(f.listed() << f.selectedInView(), (QStringList{beta, alpha, alpha}));
    QCOMPARE(f.listed(RowRole::Subtitle) << f.rowOf(beta).data(RowRole::TrailingText).toString(),
             (QStringList{"com.example.beta", "Phiên bản 2.1",
                          formatBytes(TreeBuilder::expectedAllocated(beta))}));

    // The count is of every loaded application; a search that hides the selection keeps it.
    QTest::keyClicks(f.find<QLineEdit>("searchField"), "EXAMPLE.b");
    QCOMPARE(f.listed() << f.text("appCount")
                        << qobject_cast<UninstallerView*>(f.screen.get())->detail()->app().url,
             (QStringList{beta, "2 ứng dụng", alpha}));

    f.find<QLineEdit>("searchField")->clear();

    // Each visit reads the list afresh; the selection goes with its application.
    f.screen.reset();
    const QString gamma = f.bundle("Gamma", "com.example.gamma");
    QVERIFY(QDir(alpha).removeRecursively());
    QVERIFY(f.open());
    QCOMPARE(f.listed() << f.selectedInView() + f.pane(),
             (QStringList{beta, gamma, "detailPlaceholder"}));
}

void TestUninstallerView::uninstallFlow()
{
    Fixture f;
    const QString alpha = f.bundle("Alpha", "com.example.alpha", 100000, QStringLiteral("1.0"));
    f.bundle("Beta", "com.example.beta");
    const QString cache = f.leftover("Caches/com.example.alpha/blob", 40000);
    const QString support = f.leftover(QStringLiteral("Application Support/Alpha/state"), 20000);
    const QString linked = f.apps + "/Linked.app";
    QVERIFY(TreeBuilder::makeLink(makeBundle(f.root, "Linked.app", "com.example.linked"), linked));
    // Selected before its size is known: the button waits.
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
    QCOMPARE(f.find<ElidedLabel>("appVersion")->fullText() + f.text("appSize") +
                 f.uninstall()->text(),
             "v1.0" + formatBytes(bundleSize) + "Gỡ cài đặt · " +
                 formatBytes(f.model->totalSelectedSize()));
    // The leftover matched by name alone starts unticked.
    auto* leftovers = f.find<QListView>("leftoverList");
    QCOMPARE((QList{leftovers->model()->index(0, 0).data(Qt::CheckStateRole).toInt(),
                    leftovers->model()->index(1, 0).data(Qt::CheckStateRole).toInt()}),
             (QList<int>{Qt::Checked, Qt::Unchecked}));

    // Nothing ticked: the bundle alone, 0 related files; cancelled, nothing goes.
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
    QVERIFY(FileSystem::exists(alpha));

    // One ticked; confirmed: the bundle and that leftover go, the other stays.
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

    // The protected one (a link): a lock that explains itself, the notice, no uninstall.
    QCOMPARE(f.rowOf(linked).data(RowRole::TrailingMark).toInt(), int(RowMark::lock));
    QCOMPARE(f.rowOf(linked).data(RowRole::TrailingToolTip).toString(), "Ứng dụng hệ thống");
    QVERIFY(f.click(linked));
    AWAIT_UNTIL(!f.model->loadingLeftovers(), "the leftover search");
    QVERIFY(f.find("protectedNotice")->isVisible() && !f.find("runningNotice")->isVisible());
    QVERIFY(!f.uninstall()->isEnabled());
}

SORVI_TEST_GUI_MAIN(TestUninstallerView)
#include "tst_uninstaller_view.moc"
