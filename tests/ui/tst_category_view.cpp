#include "platform/file_system.h"
#include "support/test_home.h"
#include "support/tree_builder.h"
#include "ui/category_view.h"
#include "ui/clean_item_delegate.h"
#include "ui/clean_item_model.h"
#include "window_fixture.h"

#include <QApplication>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QStackedWidget>

using namespace TreeBuilder;

namespace {

QString home(const QString& relative)
{
    return TestHome::path() + u'/' + relative;
}

const Category& category(const QString& id)
{
    return *Category::find(id);
}

void resetHome()
{
    for (const char* top : {"Library", ".Trash", ".local/share/Trash", "Downloads"}) {
        QFile::remove(home(QLatin1String(top)));
        QDir(home(QLatin1String(top))).removeRecursively();
    }
}

// `count` items (folders holding one file each) directly in the first root of `c`.
QStringList makeItems(const Category& c, int count, qint64 size = 8192)
{
    QStringList items;
    for (int i = 0; i < count; ++i) {
        const QString item = c.roots.first() + QStringLiteral("/item") + QString::number(i);
        if (!writeFile(item + QStringLiteral("/data"), size * (i + 1)))
            qFatal("cannot write %s", qPrintable(item));
        items.append(item);
    }
    return items;
}

// Makes the root of `c` a regular file: it exists, and listing it fails.
bool makeRootUnreadable(const Category& c)
{
    const QString root = c.roots.first();
    QDir().mkpath(QFileInfo(root).path());
    QDir(root).removeRecursively();
    return writeFile(root, 10);
}

QCoro::Task<> scanned(AppModel& model, const QString& id)
{
    auto task = model.scan(category(id));
    co_await task;
}

QWidget* page(const CategoryView& view)
{
    return view.findChild<QStackedWidget*>(QStringLiteral("categoryContent"))->currentWidget();
}

} // namespace

class TestCategoryView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void cleanGoesThroughConfirmation_data();
    void cleanGoesThroughConfirmation();
    void unreadableNotice_data();
    void unreadableNotice();
    void contentFollowsScanState();
    void listClicksKeysAndMenu();
    void largeResultUpdatesChangedRowsOnly();
    void hostileNamesStayOnOneLine();
};

void TestCategoryView::initTestCase()
{
    qunsetenv("SORVI_UPDATE_FEED_URL");
}

void TestCategoryView::init()
{
    resetHome();
}

void TestCategoryView::cleanGoesThroughConfirmation_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<bool>("tickAll");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("toTrash");
    QTest::newRow("permanent") << "caches" << false << "Xoá vĩnh viễn các mục đã chọn?"
                               << "Xoá" << false;
    QTest::newRow("trash") << "ios" << true << "Chuyển các mục đã chọn vào Thùng rác?"
                           << "Chuyển vào Thùng rác" << true;
}

void TestCategoryView::cleanGoesThroughConfirmation()
{
    QFETCH(QString, id);
    QFETCH(bool, tickAll);
    QFETCH(QString, title);
    QFETCH(QString, action);
    QFETCH(bool, toTrash);
    const QStringList items = makeItems(category(id), 3);
    qint64 size = 0;
    for (const QString& item : items)
        size += expectedAllocated(item);

    WindowFixture f;
    QVERIFY(f.showAndWaitForScan());
    f.window.setSelection(id);
    auto* view = qobject_cast<CategoryView*>(f.window.detail());
    QVERIFY(view);
    auto* clean = view->findChild<QPushButton*>(QStringLiteral("cleanButton"));
    if (tickAll) {
        QVERIFY(!clean->isEnabled());
        view->findChild<QPushButton*>(QStringLiteral("selectAllButton"))->click();
    }
    QVERIFY(clean->isEnabled());
    QCOMPARE(clean->text(), QStringLiteral("Dọn ") + formatBytes(size));

    // Cancelling leaves everything in place.
    clean->click();
    QMessageBox* confirmation = waitForBox(*view, QStringLiteral("cleanConfirmation"));
    QVERIFY(confirmation);
    buttonOf(confirmation, QStringLiteral("cancelButton"))->click();
    QVERIFY(!view->confirming());
    QVERIFY(!f.model.message().has_value());
    for (const QString& item : items)
        QVERIFY(FileSystem::exists(item));

    clean->click();
    QVERIFY(view->confirming());
    confirmation = waitForBox(*view, QStringLiteral("cleanConfirmation"));
    QVERIFY(confirmation);
    QCOMPARE(confirmation->text(), title);
    QCOMPARE(confirmation->informativeText(), QStringLiteral("3 mục · ") + formatBytes(size));
    QCOMPARE(buttonOf(confirmation, QStringLiteral("confirmButton"))->text(), action);
    QCOMPARE(buttonOf(confirmation, QStringLiteral("cancelButton"))->text(), QStringLiteral("Huỷ"));
    buttonOf(confirmation, QStringLiteral("confirmButton"))->click();
    QVERIFY(!view->confirming());

    QMessageBox* alert = waitForBox(f.window, QStringLiteral("resultAlert"));
    QVERIFY(alert);
    QString expected = QStringLiteral("Đã giải phóng ") + formatBytes(size) + QStringLiteral(".");
    if (toTrash) expected += QStringLiteral(" Các mục đã được chuyển vào Thùng rác.");
    QCOMPARE(alert->informativeText(), expected);
    for (const QString& item : items)
        QVERIFY2(!FileSystem::exists(item), qPrintable(item));
    const int trashed = QDir(TestHome::trashPath() + QStringLiteral("/files"))
                            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
                            .size();
    QCOMPARE(trashed, toTrash ? 3 : 0);

    buttonOf(alert, QStringLiteral("alertOkButton"))->click();
    QVERIFY(!f.model.message().has_value());
    // The clean rescans the category: the screen now has nothing to show.
    QVERIFY(QTest::qWaitFor([&] { return page(*view)->objectName() == u"emptyPage"; }));
}

void TestCategoryView::unreadableNotice_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<bool>("finderButton");
    QTest::newRow("caches") << "caches" << false;
    QTest::newRow("trash") << "trash" << true;
}

void TestCategoryView::unreadableNotice()
{
    QFETCH(QString, id);
    QFETCH(bool, finderButton);
    QVERIFY(makeRootUnreadable(category(id)));
    const QString old = TestHome::trashPath() + QStringLiteral("/files/old.txt");
    QVERIFY(writeFile(old, 4096));
    WindowFixture f;
    QVERIFY(f.showAndWaitForScan());
    QVERIFY(f.model.state(category(id)).result.unreadable);

    f.window.setSelection(id);
    QWidget* notice = f.window.detail()->findChild<QWidget*>(QStringLiteral("unreadableNotice"));
    QVERIFY(notice && notice->isVisible());
    auto* settings = notice->findChild<QPushButton*>(QStringLiteral("openFullDiskAccessButton"));
    QVERIFY(settings && settings->isVisible());
    QCOMPARE(settings->text(), QStringLiteral("Mở cài đặt Full Disk Access"));
    auto* finder = notice->findChild<QPushButton*>(QStringLiteral("emptyTrashButton"));
    QCOMPARE(finder != nullptr, finderButton);
    if (finder) {
        QCOMPARE(finder->text(), QStringLiteral("Dọn Thùng rác qua Finder"));
        QSignalSpy rescans(&f.model, &AppModel::stateChanged);
        finder->click();
        QMessageBox* alert = waitForBox(f.window, QStringLiteral("resultAlert"));
        QVERIFY(alert);
        QCOMPARE(alert->informativeText(), QStringLiteral("Đã dọn Thùng rác."));
        QVERIFY(!FileSystem::exists(old));
        // Then the category is scanned again.
        QVERIFY(QTest::qWaitFor(
            [&] { return rescans.count() >= 2 && !f.model.state(category(id)).scanning; }));
        buttonOf(alert, QStringLiteral("alertOkButton"))->click();
    }
    QStringList texts;
    for (QLabel* label : notice->findChildren<QLabel*>())
        texts.append(label->text());
    QVERIFY(texts.contains(QStringLiteral(
        "macOS đang chặn SorviClean đọc thư mục này. Cấp Full Disk Access cho SorviClean, bật "
        "công tắc, rồi mở lại app và bấm Quét lại.")));

    // Another category that could be read has no notice.
    f.window.setSelection(QStringLiteral("logs"));
    QVERIFY(
        !f.window.detail()->findChild<QWidget*>(QStringLiteral("unreadableNotice"))->isVisible());
}

void TestCategoryView::contentFollowsScanState()
{
    makeItems(category(QStringLiteral("logs")), 2);
    AppModel model;
    CategoryView view(&model, category(QStringLiteral("logs")));
    view.show();
    auto* rescan = view.findChild<QPushButton*>(QStringLiteral("rescanButton"));
    auto* clean = view.findChild<QPushButton*>(QStringLiteral("cleanButton"));

    // Never scanned: the empty state, not a progress indicator.
    QCOMPARE(page(view)->objectName(), QStringLiteral("emptyPage"));
    QCOMPARE(view.findChild<QLabel*>(QStringLiteral("emptyLabel"))->text(),
             QStringLiteral("Không có gì để dọn 🎉"));
    QVERIFY(rescan->isEnabled());
    QVERIFY(!clean->isEnabled());
    QCOMPARE(clean->text(), QStringLiteral("Dọn ") + formatBytes(0));

    bool sawProgress = false;
    connect(&model, &AppModel::stateChanged, this, [&] {
        if (!model.state(category(QStringLiteral("logs"))).scanning) return;
        sawProgress = page(view)->objectName() == u"progressPage" && !rescan->isEnabled() &&
                      !clean->isEnabled();
    });
    rescan->click();
    QVERIFY(QTest::qWaitFor([&] { return page(view)->objectName() == u"listPage"; }));
    QVERIFY(sawProgress);
    QVERIFY(rescan->isEnabled());
    QVERIFY(clean->isEnabled());
}

void TestCategoryView::listClicksKeysAndMenu()
{
    const QStringList items = makeItems(category(QStringLiteral("ios")), 3);
    AppModel model;
    QCoro::waitFor(scanned(model, QStringLiteral("ios")));
    CategoryView view(&model, category(QStringLiteral("ios")));
    view.resize(700, 500);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    // The header counts the items, not the selection.
    auto* count = view.findChild<QLabel*>(QStringLiteral("itemCount"));
    QCOMPARE(count->text(), QStringLiteral("3 mục"));
    model.toggle(category(QStringLiteral("ios")), items.at(1));
    QCOMPARE(count->text(), QStringLiteral("3 mục"));
    QCOMPARE(view.confirmationMessage(),
             QStringLiteral("1 mục · ") + formatBytes(expectedAllocated(items.at(1))));
    model.toggle(category(QStringLiteral("ios")), items.at(1));

    auto* list = view.findChild<QListView*>(QStringLiteral("itemList"));
    const QModelIndex first = list->model()->index(0, 0);
    const QString url = first.data(CleanItemListModel::UrlRole).toString();
    const QRect row = list->visualRect(first);
    const auto selected = [&] {
        return model.state(category(QStringLiteral("ios"))).selected.contains(url);
    };

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      QPoint(row.left() + 14, row.center().y()));
    QVERIFY(selected());
    QCOMPARE(first.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    // The label belongs to the check box.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      QPoint(row.left() + 80, row.center().y()));
    QVERIFY(!selected());
    // The size does not.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      QPoint(row.right() - 5, row.center().y()));
    QVERIFY(!selected());

    list->setFocus();
    list->setCurrentIndex(first);
    QTest::keyClick(list, Qt::Key_Space);
    QVERIFY(selected());

    emit list->customContextMenuRequested(row.center());
    auto* menu = view.findChild<QMenu*>(QStringLiteral("itemContextMenu"));
    QVERIFY(menu);
    QCOMPARE(menu->actions().size(), 1);
    QCOMPARE(menu->actions().first()->text(), QStringLiteral("Hiện trong Finder"));
    menu->close();
}

void TestCategoryView::largeResultUpdatesChangedRowsOnly()
{
    const Category& caches = category(QStringLiteral("caches"));
    const int count = 10000;
    for (int i = 0; i < count; ++i)
        QVERIFY(writeFile(caches.roots.first() + QStringLiteral("/f") + QString::number(i), 1));
    AppModel model;
    QCoro::waitFor(scanned(model, QStringLiteral("caches")));
    QCOMPARE(model.state(caches).result.items.size(), count);

    CategoryView view(&model, caches);
    view.resize(800, 600);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    auto* list = view.findChild<QListView*>(QStringLiteral("itemList"));
    QAbstractItemModel* items = list->model();
    QCOMPARE(items->rowCount(), count);
    QCOMPARE(view.findChild<QLabel*>(QStringLiteral("itemCount"))->text(),
             QString::number(count) + QStringLiteral(" mục"));

    QSignalSpy resets(items, &QAbstractItemModel::modelReset);
    QSignalSpy changes(items, &QAbstractItemModel::dataChanged);
    const QString url = items->index(4321, 0).data(CleanItemListModel::UrlRole).toString();
    model.toggle(caches, url);
    QCOMPARE(resets.count(), 0);
    QCOMPARE(changes.count(), 1);
    QCOMPARE(changes.at(0).at(0).value<QModelIndex>().row(), 4321);
    QCOMPARE(changes.at(0).at(1).value<QModelIndex>().row(), 4321);

    // Rows are drawn, not built: the view holds no widget per row.
    QVERIFY(list->findChildren<QWidget*>().size() < 10);
    list->scrollToBottom();
    QVERIFY(!list->viewport()->grab().isNull());
    QCOMPARE(list->indexAt(list->viewport()->rect().bottomLeft() + QPoint(5, -3)).row(), count - 1);
}

void TestCategoryView::hostileNamesStayOnOneLine()
{
    const Category& logs = category(QStringLiteral("logs"));
    const QString root = logs.roots.first();
    const QStringList names{QStringLiteral("line\nbreak"), QStringLiteral("\u202Egnp.exe"),
                            QString(250, QLatin1Char('w')), QStringLiteral("tab\there\r\n")};
    for (const QString& name : names)
        QVERIFY(writeFile(root + u'/' + name, 4096));
    AppModel model;
    QCoro::waitFor(scanned(model, QStringLiteral("logs")));
    CategoryView view(&model, logs);
    view.resize(700, 400);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    auto* list = view.findChild<QListView*>(QStringLiteral("itemList"));
    QAbstractItemModel* items = list->model();
    QCOMPARE(items->rowCount(), names.size());
    for (int row = 0; row < items->rowCount(); ++row) {
        const QString shown = items->index(row, 0).data(Qt::DisplayRole).toString();
        QVERIFY(!shown.contains(u'\n') && !shown.contains(u'\r') && !shown.contains(u'\t'));
        QCOMPARE(list->visualRect(items->index(row, 0)).height(),
                 list->visualRect(items->index(0, 0)).height());
    }
    QVERIFY(!list->viewport()->grab().isNull());
}

SORVI_TEST_GUI_MAIN(TestCategoryView)
#include "tst_category_view.moc"
