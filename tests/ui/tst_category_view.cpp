#include "platform/file_system.h"
#include "support/rows.h"
#include "ui/category_view.h"
#include "ui/row_painter.h"
#include "window_fixture.h"

#include <QListView>
#include <QStackedWidget>

class TestCategoryView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qunsetenv("SORVI_UPDATE_FEED_URL"); }
    void init() { resetHome(); }
    void cleanGoesThroughConfirmation_data();
    void cleanGoesThroughConfirmation();
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
    QStringList items = makeItems(id, 3);
    const QString odd = rootOf(id) + "/<b>a\nb";
    QVERIFY(QDir().rename(items[0], odd));
    items[0] = odd;
    qint64 size = 0;
    for (const QString& item : items)
        size += TreeBuilder::expectedAllocated(item);
    WindowFixture f;
    QVERIFY(f.showAndWaitForScan());
    f.window.setSelection(id);
    auto* view = qobject_cast<CategoryView*>(f.window.detail());
    auto* clean = view->findChild<QPushButton*>("cleanButton");
    QCOMPARE(clean->isEnabled(), id != u"large"); // the trash category preselects nothing
    // A name that would break a layout shows on one line.
    auto* list = view->findChild<QListView*>("itemList");
    QCOMPARE(
        list->model()->match(list->model()->index(0, 0), RowRole::Url, odd)[0].data().toString(),
        "<b>a↵b");
    view->findChild<QPushButton*>("selectAllButton")->click();
    QCOMPARE(clean->text(), QStringLiteral("Dọn ") + formatBytes(size));

    clean->click();
    QMessageBox* box = shownBox(*view, "cleanConfirmation");
    QVERIFY(box && view->confirming());
    QCOMPARE(
        (QStringList{box->text(), box->informativeText(), buttonOf(box, "confirmButton")->text(),
                     buttonOf(box, "cancelButton")->text()}),
        (QStringList{title, "3 mục · " + formatBytes(size), action, "Huỷ"}));
    QTest::keyClick(box, Qt::Key_Escape);
    QVERIFY(!view->confirming() && !f.model.message());
    for (const QString& item : items)
        QVERIFY(FileSystem::exists(item));

    clean->click();
    buttonOf(shownBox(*view, "cleanConfirmation"), "confirmButton")->click();
    auto* content = view->findChild<QStackedWidget*>("categoryContent");
    AWAIT_UNTIL(content->currentWidget()->objectName() == u"emptyPage", "the empty state");
    for (const QString& item : items)
        QVERIFY2(!FileSystem::exists(item), qPrintable(item));
}

SORVI_TEST_GUI_MAIN(TestCategoryView)
#include "tst_category_view.moc"
