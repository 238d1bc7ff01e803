#include "ui/app_detail_view.h"
#include "ui/app_icons.h"
#include "ui/checkable_list_model.h"
#include "ui/display_text.h"
#include "ui/monitor_text.h"
#include "ui/monitor_widgets.h"
#include "ui/panels.h"
#include "ui/row_painter.h"
#include "ui/search_note.h"
#include "ui/sidebar.h"
#include "window_fixture.h"

#include <QAbstractAxis>
#include <QAction>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QTextDocumentFragment>

namespace {

// The texts `kind` reads of `object`: its own text, the texts of the labels below it, or the
// entries of a list, a table header or a chart.
QStringList textsOf(const QObject* object, const QString& kind)
{
    QStringList texts;
    const auto* widget = qobject_cast<const QWidget*>(object);
    if (kind == u"title") return {widget->windowTitle()};
    if (kind == u"toolTip") return {widget->toolTip()};
    if (kind == u"labels")
        for (const QLabel* label : object->findChildren<QLabel*>())
            if (!label->text().isEmpty()) texts.append(label->text());
    if (const auto* combo = qobject_cast<const QComboBox*>(object))
        for (int i = 0; i < combo->count(); ++i)
            texts.append(combo->itemText(i));
    if (const auto* sidebar = qobject_cast<const Sidebar*>(object))
        for (int i = 0; i < sidebar->count(); ++i)
            if (!sidebar->item(i)->data(Sidebar::IdRole).isValid())
                texts.append(sidebar->item(i)->text()); // the section headings
    if (const auto* table = qobject_cast<const QTableView*>(object))
        for (int i = 0; i < table->model()->columnCount(); ++i)
            texts.append(table->model()->headerData(i, Qt::Horizontal).toString());
    if (const auto* chart = qobject_cast<const QChartView*>(object))
        for (const QAbstractAxis* axis : chart->chart()->axes())
            texts.append(axis->titleText());
    if (!kind.isEmpty()) return texts;
    if (const auto* field = qobject_cast<const QLineEdit*>(object))
        texts.append(field->placeholderText());
    if (const auto* label = qobject_cast<const QLabel*>(object)) texts.append(label->text());
    if (const auto* button = qobject_cast<const QAbstractButton*>(object))
        texts.append(button->text());
    if (const auto* action = qobject_cast<const QAction*>(object)) texts.append(action->text());
    if (const auto* box = qobject_cast<const SymbolBox*>(object))
        texts.append(box->titleLabel()->text());
    return texts;
}

// `path` is "name" or "parent/name" below `root`.
QString read(const QObject* root, const QString& path, const QString& kind)
{
    const QObject* object = root;
    if (root->objectName() != path)
        for (const QString& name : path.split(u'/'))
            object = object ? object->findChild<QObject*>(name) : nullptr;
    return object ? textsOf(object, kind).join(u'|') : QStringLiteral("<missing>");
}

QString card(const StatCard& c)
{
    return QStringList{c.value, c.detail, c.symbol, QString::number(int(c.tint))}.join(u'|');
}

QString role(Palette::Role role)
{
    return QString::number(int(role));
}

} // namespace

class TestTexts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void quotedText_data();
    void quotedText();
    void computedText_data();
    void computedText();
    void longTextIsCappedWithoutSplittingAPair();

private:
    std::unique_ptr<WindowFixture> m_fixture;
};

void TestTexts::initTestCase()
{
    qunsetenv("SORVI_UPDATE_FEED_URL");
    resetHome();
    makeItems(QStringLiteral("logs"), 2);
    QVERIFY(makeRootUnreadable(QStringLiteral("trash")));
    m_fixture = std::make_unique<WindowFixture>();
    QVERIFY(m_fixture->showAndWaitForScan());
}

// The quoted texts of every screen, where they are shown.
void TestTexts::quotedText_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* page, const char* path, const char* kind, const char* text) {
        QTest::addRow("%s %s", page, path) << page << path << kind << QString::fromUtf8(text);
    };
    row("window", "mainWindow", "title", "SorviClean");
    row("window", "checkForUpdatesAction", "", "Kiểm tra cập nhật…");
    row("window", "sidebar", "", "Dọn dẹp|Ứng dụng|Hệ thống");
    row("window", "sidebarRow-overview", "labels", "Tổng quan");
    row("window", "sidebarRow-uninstaller", "labels", "Gỡ ứng dụng");
    row("window", "sidebarRow-monitor", "labels", "Theo dõi hệ thống");
    row("overview", "overviewTitle", "", "Tổng quan");
    row("overview", "diskBox", "", "Ổ đĩa");
    row("overview", "reclaimableCaption", "", "có thể dọn");
    row("overview", "scanAllButton", "", "Quét lại");
    row("logs", "scanningLabel", "", "Đang quét...");
    row("logs", "emptyLabel", "", "Không có gì để dọn 🎉");
    row("logs", "selectAllButton", "", "Chọn tất cả");
    row("logs", "selectNoneButton", "", "Bỏ chọn");
    row("logs", "itemCount", "", "2 mục");
    row("logs", "rescanButton", "", "Quét lại");
    row("trash", "unreadableNotice", "labels",
        "SorviClean không có quyền đọc thư mục này. Hãy kiểm tra quyền của thư mục (tài khoản của "
        "bạn cần quyền đọc và mở thư mục), rồi bấm Quét lại.");
    row("trash", "openFullDiskAccessButton", "", "<missing>");
    row("ios", "searchNote", "", "Không có thư mục nào để tìm trên hệ thống này.");
    row("overview", "overviewNote-ios", "toolTip",
        "Không có thư mục nào để tìm trên hệ thống này.");
    row("uninstaller", "searchField", "", "Tìm ứng dụng");
    row("uninstaller", "sortPicker", "", "Tên|Dung lượng|Lần dùng cuối");
    row("uninstaller", "loadingLabel", "", "Đang tải danh sách...");
    row("uninstaller", "reloadButton", "toolTip", "Tải lại");
    row("uninstaller", "placeholderText", "", "Chọn một ứng dụng để xem chi tiết và gỡ cài đặt");
    row("detail", "leftoversHeading", "", "File liên quan");
    row("detail", "revealAppButton", "", "Hiện trong trình quản lý tệp");
    row("detail", "protectedNoticeText", "",
        "Đây là ứng dụng hệ thống do trình quản lý gói cài đặt, SorviClean không gỡ ứng dụng này.");
    row("detail", "runningNoticeText", "",
        "Ứng dụng đang chạy. SorviClean sẽ thoát ứng dụng trước khi gỡ.");
    row("detail", "noLeftoversLabel", "", "Không tìm thấy file thừa trong thư mục cá nhân.");
    row("detail", "trashNote", "", "Các mục sẽ được chuyển vào Thùng rác, có thể khôi phục.");
    row("monitor", "monitorTitle", "", "Theo dõi hệ thống");
    row("monitor", "cpuCard/cardTitle", "", "CPU");
    row("monitor", "memoryCard/cardTitle", "", "Bộ nhớ");
    row("monitor", "networkCard/cardTitle", "", "Mạng");
    row("monitor", "diskCard/cardTitle", "", "Ổ đĩa");
    row("monitor", "chartBox", "", "2 phút gần nhất (%)");
    row("monitor", "collectingText", "", "Đang thu thập số liệu...");
    row("monitor", "chartKey", "labels", "Loại|CPU|Bộ nhớ");
    row("monitor", "usageChartView", "", "Thời gian|%");
    row("monitor", "coresBox", "", "Từng nhân CPU");
    row("monitor", "detailsBox", "labels",
        "Chi tiết|Bộ nhớ ứng dụng|Bộ nhớ hệ thống (wired)|Bộ nhớ nén|Bộ đệm file|Swap|Tải trung "
        "bình|Thời gian chạy|Nhiệt độ|Hệ điều hành");
    row("monitor", "processBox", "", "Tiến trình");
    row("monitor", "sortLabel", "", "Sắp xếp theo");
    row("monitor", "sortCpuButton", "", "CPU");
    row("monitor", "sortMemoryButton", "", "Bộ nhớ");
    row("monitor", "quitProcessButton", "", "Thoát tiến trình");
    row("monitor", "processTable", "", "Tên|CPU %|Bộ nhớ|PID");
    row("monitor", "processCaption", "",
        "Chỉ hiển thị tiến trình của tài khoản bạn. Tiến trình hệ thống cần quyền quản trị.");
}

void TestTexts::quotedText()
{
    QFETCH(QString, page);
    QFETCH(QString, path);
    QFETCH(QString, kind);
    QFETCH(QString, expected);
    MainWindow& window = m_fixture->window;
    if (page == u"detail") {
        AppIcons icons;
        InstalledApp app;
        app.url = TestHome::path() + QStringLiteral("/X.app");
        AppDetailView detail(&m_fixture->uninstaller, app, &icons);
        QCOMPARE(read(&detail, path, kind), expected);
        return;
    }
    if (page != u"window") window.setSelection(page);
    QCOMPARE(read(page == u"window" ? static_cast<QObject*>(&window) : window.detail(), path, kind),
             expected);
}

// Texts the screens build from values, and what they make of text from the file system.
void TestTexts::computedText_data()
{
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* name, const QString& shown, const QString& expected) {
        QTest::newRow(name) << shown << expected;
    };
    using R = Palette::Role;
    row("battery 20 %, on battery", card(MonitorCards::battery({20, false, false, {}})),
        "20%|Đang dùng pin|battery.75|" + role(R::destructive));
    row("battery 21 %, on battery", card(MonitorCards::battery({21, false, false, {}})),
        "21%|Đang dùng pin|battery.75|" + role(R::success));
    row("battery 15 %, on mains", card(MonitorCards::battery({15, false, true, {}})),
        "15%|Đã cắm sạc|battery.75|" + role(R::success));
    row("battery charging", card(MonitorCards::battery({50, true, true, 30})),
        "50%|Đang sạc|battery.100.bolt|" + role(R::success));
    row("battery 125 minutes left", card(MonitorCards::battery({80, false, false, 125})),
        "80%|Còn khoảng 2 giờ 5 phút|battery.75|" + role(R::success));
    SystemSnapshot snapshot;
    for (const auto& [level, word, tint] :
         {std::tuple{1, "Bình thường", R::success}, std::tuple{2, "Cảnh báo", R::warning},
          std::tuple{3, "Bình thường", R::success}, std::tuple{4, "Nguy cấp", R::destructive}}) {
        snapshot.memory.pressure = level;
        const StatCard memory = MonitorCards::memory(snapshot);
        QTest::addRow("pressure %d", level)
            << memory.detail + u'|' + role(memory.tint)
            << QStringLiteral("Áp lực: ") + word + u'|' + role(tint);
    }
    const StatCard low = MonitorCards::disk({500'000'000'000, 9'999'999'999});
    row("disk nearly full", card(low),
        formatBytes(490'000'000'001) + " / " + formatBytes(500'000'000'000) + "|Còn trống " +
            formatBytes(9'999'999'999) + "|internaldrive|" + role(R::destructive));
    row("disk 10 GB free", role(MonitorCards::disk({500'000'000'000, 10'000'000'000}).tint),
        role(R::accent));
    row("uptime 3661 s", MonitorText::uptime(3661), "1 giờ 1 phút");
    row("uptime 86399 s", MonitorText::uptime(86399), "23 giờ 59 phút");
    row("uptime 90061 s", MonitorText::uptime(90061), "1 ngày 1 giờ");
    row("percent above 100", MonitorText::percent(123.4), "123%");
    row("loads", MonitorText::loads({1.5, 0.25, 2}), "1.50  0.25  2.00");
    const auto tilde = [](const char* folder, const char* home) {
        return CheckableListModel::abbreviateHome(folder, home);
    };
    row("home below", tilde("/home/an/Library", "/home/an"), "~/Library");
    row("home itself", tilde("/home/an", "/home/an"), "~");
    row("longer user name", tilde("/home/anna/x", "/home/an"), "/home/anna/x");
    row("home inside a path", tilde("/mnt/home/an", "/home/an"), "/mnt/home/an");
    row("home is /", tilde("/Library", "/"), "/Library");
    row("line breaks", DisplayText::singleLine("a\nb\r\nc\u2028d\u2029e\u0085f"), "a↵b↵↵c↵d↵e↵f");
    row("tab and controls", DisplayText::singleLine("a\tb\u0001c\u007Fd"), "a b�c�d");
    // Direction marks stay; drawing isolates them.
    row("direction override", DisplayText::isolated(DisplayText::singleLine("\u202Eexe")),
        QChar(0x2068) + QStringLiteral("\u202Eexe") + QChar(0x2069));
    // A tooltip shows its line as it is, also when the line looks like markup.
    const QString tip = DisplayText::toolTip("/x/<b>y</b>\nz");
    row("tooltip",
        Qt::mightBeRichText(tip) ? QTextDocumentFragment::fromHtml(tip).toPlainText() : tip,
        "/x/<b>y</b>↵z");
    const auto note = [](const char* id, const QStringList& searched) {
        AppModel::State state;
        state.scanned = true;
        for (const QString& root : searched)
            state.result.pinnedRoots.insert(root, {});
        return SearchNote::text(*Category::find(id), state);
    };
    row("nothing found, no folder", note("dev", {}),
        "Không tìm thấy thư mục nào để quét: ~/.npm/_cacache, ~/.gradle/caches, "
        "~/.cargo/registry/cache, ~/go/pkg/mod.");
    row("nothing found in a folder", note("caches", {TestHome::path() + "/.cache"}),
        "Đã tìm trong ~/.cache.");
    CheckableListModel list;
    list.setItems({{"/t/files/a.2", 1, "/home/an/Docs/a"}}, {});
    row("trashed item's folder", list.index(0).data(RowRole::Subtitle).toString(), "/home/an/Docs");
    const QFontMetrics metrics(QApplication::font());
    row("tabular digits", QString::number(DisplayText::tabularWidth(metrics, "111 kB")),
        QString::number(DisplayText::tabularWidth(metrics, "888 kB")));
}

void TestTexts::computedText()
{
    QFETCH(QString, shown);
    QFETCH(QString, expected);
    QCOMPARE(shown, expected);
}

void TestTexts::longTextIsCappedWithoutSplittingAPair()
{
    const QString shown = DisplayText::singleLine(QString(5000, QLatin1Char('x')));
    QVERIFY(shown.size() < 500 && shown.endsWith(QChar(0x2026)));
    const QString cut = DisplayText::singleLine(u'a' + QStringLiteral("😀").repeated(500));
    for (qsizetype i = 0; i + 1 < cut.size(); ++i)
        QVERIFY(!cut.at(i).isHighSurrogate() || cut.at(i + 1).isLowSurrogate());
}

SORVI_TEST_GUI_MAIN(TestTexts)
#include "tst_texts.moc"
