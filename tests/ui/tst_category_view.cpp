#include "platform/file_system.h"
#include "support/rows.h"
#include "ui/category_view.h"
#include "ui/row_painter.h"
#include "window_fixture.h"

#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QProgressBar>
#include <QStackedWidget>

namespace {

const Category& category(const QString& id)
{
    return *Category::find(id);
}

QString page(const QWidget* view)
{
    return view->findChild<QStackedWidget*>(QStringLiteral("categoryContent"))
        ->currentWidget()
        ->objectName();
}

} // namespace

class TestCategoryView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qunsetenv("SORVI_UPDATE_FEED_URL"); }
    void init() { resetHome(); }
    void cleanGoesThroughConfirmation_data();
    void cleanGoesThroughConfirmation();
    void ticksFromMouseAndKeyboard();
};

void TestCategoryView::cleanGoesThroughConfirmation_data()
{
    Rows::add({"id", "title", "action"},
              {"permanent;caches;Xoá vĩnh viễn các mục đã chọn?;Xoá",
               "trash;large;Chuyển các mục đã chọn vào Thùng rác?;Chuyển vào Thùng rác"});
}

void TestCategoryView::cleanGoesThroughConfirmation()
{
    QFETCH(QString, id);
    QFETCH(QString, title);
    QFETCH(QString, action);
    const QStringList items = makeItems(id, 3);
    qint64 size = 0;
    for (const QString& item : items)
        size += TreeBuilder::expectedAllocated(item);
    WindowFixture f;
    QVERIFY(f.showAndWaitForScan());
    f.window.setSelection(id);
    auto* view = qobject_cast<CategoryView*>(f.window.detail());
    auto* clean = view->findChild<QPushButton*>(QStringLiteral("cleanButton"));
    // The trash category preselects nothing.
    QCOMPARE(clean->isEnabled(), id != u"large");
    view->findChild<QPushButton*>(QStringLiteral("selectAllButton"))->click();
    QCOMPARE(clean->text(), QStringLiteral("Dọn ") + formatBytes(size));

    clean->click();
    QMessageBox* box = shownBox(*view, QStringLiteral("cleanConfirmation"));
    QVERIFY(box && view->confirming());
    QCOMPARE(
        (QStringList{box->text(), box->informativeText(), buttonOf(box, "confirmButton")->text(),
                     buttonOf(box, "cancelButton")->text()}),
        (QStringList{title, "3 mục · " + formatBytes(size), action, "Huỷ"}));
    // Cancelling, and Escape, leave everything in place.
    buttonOf(box, "cancelButton")->click();
    QVERIFY(!view->confirming());
    clean->click();
    QTest::keyClick(shownBox(*view, QStringLiteral("cleanConfirmation")), Qt::Key_Escape);
    QVERIFY(!view->confirming() && !f.model.message());
    for (const QString& item : items)
        QVERIFY(FileSystem::exists(item));

    // While the removal runs its bar counts the items and the clean button is held; then the
    // rescan shows the progress state with both buttons disabled.
    auto* rescan = view->findChild<QPushButton*>(QStringLiteral("rescanButton"));
    auto* bar = view->findChild<QProgressBar*>(QStringLiteral("cleanProgress"));
    QList<int> counted;
    connect(&f.model, &AppModel::cleaningChanged, this, [&] {
        if (f.model.cleaning() && bar->isVisible() && bar->maximum() == 3 && !clean->isEnabled())
            counted.append(bar->value());
    });
    bool progressShown = false;
    connect(&f.model, &AppModel::stateChanged, this, [&] {
        if (f.model.state(category(id)).scanning)
            progressShown =
                page(view) == u"progressPage" && !rescan->isEnabled() && !clean->isEnabled();
    });
    clean->click();
    buttonOf(shownBox(*view, QStringLiteral("cleanConfirmation")), "confirmButton")->click();
    AWAIT_UNTIL(page(view) == u"emptyPage", "the empty state after the clean");
    QVERIFY(progressShown && rescan->isEnabled());
    QCOMPARE(QList({counted.first(), counted.last()}), QList({0, 3}));
    AWAIT_UNTIL(bar->isHidden(), "the bar to go with the run");
    for (const QString& item : items)
        QVERIFY2(!FileSystem::exists(item), qPrintable(item));
}

void TestCategoryView::ticksFromMouseAndKeyboard()
{
    const Category& caches = category(QStringLiteral("caches"));
    makeItems(caches.id, 100, 1);
    // A name that would break a layout stays one line.
    QVERIFY(TreeBuilder::writeFile(rootOf(caches.id) + QStringLiteral("/<b>a\nb"), 400000));
    AppModel model;
    AWAIT(model.scan(caches), "the scan of caches");
    model.selectAll(caches, false);
    CategoryView view(&model, caches);
    view.resize(700, 500);
    view.show();
    auto* list = view.findChild<QListView*>(QStringLiteral("itemList"));
    const QModelIndex first = list->model()->index(0, 0);
    QCOMPARE(first.data().toString(), QStringLiteral("<b>a↵b"));
    const QString url = first.data(RowRole::Url).toString();
    const auto ticked = [&] { return model.state(caches).selected.contains(url); };

    // A tick updates its own row only; the header counts items, the confirmation ticks.
    QSignalSpy resets(list->model(), &QAbstractItemModel::modelReset);
    QSignalSpy changes(list->model(), &QAbstractItemModel::dataChanged);
    const QRect row = list->visualRect(first);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, {row.left() + 14, row.center().y()});
    QVERIFY(ticked());
    QCOMPARE(first.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(resets.count(), 0);
    QCOMPARE(changes.count(), 1);
    QCOMPARE(view.findChild<QLabel*>(QStringLiteral("itemCount"))->text(),
             QStringLiteral("101 mục"));
    QCOMPARE(view.confirmationMessage(),
             QStringLiteral("1 mục · ") + formatBytes(TreeBuilder::expectedAllocated(url)));
    // The label belongs to the check box; the size does not.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, {row.left() + 80, row.center().y()});
    QVERIFY(!ticked());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, {row.right() - 5, row.center().y()});
    QVERIFY(!ticked());
    list->setFocus();
    list->setCurrentIndex(first);
    QTest::keyClick(list, Qt::Key_Space);
    QVERIFY(ticked());

    emit list->customContextMenuRequested(row.center());
    auto* menu = view.findChild<QMenu*>(QStringLiteral("itemContextMenu"));
    QVERIFY(menu);
    QCOMPARE(menu->actions().size(), 1);
    QCOMPARE(menu->actions().first()->text(), QStringLiteral("Hiện trong trình quản lý tệp"));
    menu->close();
}

SORVI_TEST_GUI_MAIN(TestCategoryView)
#include "tst_category_view.moc"
