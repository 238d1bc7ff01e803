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
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QLabel>
#include <QStackedWidget>
#include <QTableView>
#include <QTextDocumentFragment>

namespace {

// What `kind` reads of `object`: a property, its "labels" or "buttons"; none: its own texts.
QStringList textsOf(const QObject* object, const QString& kind)
{
    QStringList texts;
    if (const QVariant value = object->property(qPrintable(kind)); value.isValid())
        return {value.toString()};
    if (const auto* pages = qobject_cast<const QStackedWidget*>(object))
        return {pages->currentWidget()->objectName()};
    if (kind == u"buttons")
        for (const QAbstractButton* button : object->findChildren<QAbstractButton*>())
            texts.append(button->text());
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
    for (const char* own : {"placeholderText", "text"})
        if (!object->property(own).toString().isEmpty())
            texts.append(object->property(own).toString());
    if (const auto* box = qobject_cast<const SymbolBox*>(object))
        texts.append(box->titleLabel()->text());
    return texts;
}

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
    void initTestCase()
    {
        qunsetenv("SORVI_UPDATE_FEED_URL");
        resetHome();
        makeItems(QStringLiteral("logs"), 2);
        QVERIFY(QDir(rootOf("trash")).removeRecursively()); // a plain file in its place
        QVERIFY(TreeBuilder::writeFile(rootOf("trash"), 10));
        m_fixture = std::make_unique<WindowFixture>();
        QVERIFY(m_fixture->showAndWaitForScan());
    }
    void quotedText_data();
    void quotedText();
    void computedText();

private:
    std::unique_ptr<WindowFixture> m_fixture;
};

// Per page "object path;what is read;texts"; an unreadable trash shows no remedy nor progress.
void TestTexts::quotedText_data()
{
    QTest::addColumn<QStringList>("row");
    // NOLINTBEGIN(bugprone-suspicious-missing-comma): long texts are split literals
    const auto page = [](const char* name, std::initializer_list<const char*> rows) {
        for (const char* text : rows) {
            const QStringList fields = QString::fromUtf8(text).split(u';');
            QTest::addRow("%s %s %s", name, qPrintable(fields[0]), qPrintable(fields[1]))
                << QStringList{name} + fields;
        }
    };
    page("window",
         {"mainWindow;windowTitle;SorviClean", "checkForUpdatesAction;;Kiểm tra cập nhật…",
          "sidebar;;Dọn dẹp|Ứng dụng|Hệ thống", "sidebarRow-overview;labels;Tổng quan",
          "sidebarRow-uninstaller;labels;Gỡ ứng dụng",
          "sidebarRow-monitor;labels;Theo dõi hệ thống"});
    page("overview", {"overviewTitle;;Tổng quan", "diskBox;;Ổ đĩa",
                      "reclaimableCaption;;có thể dọn", "scanAllButton;;Quét lại",
                      "overviewNote-ios;toolTip;Không có thư mục nào để tìm trên hệ thống này."});
    page("logs", {"scanningLabel;;Đang quét...", "emptyLabel;;Không có gì để dọn 🎉",
                  "selectAllButton;;Chọn tất cả", "selectNoneButton;;Bỏ chọn", "itemCount;;2 mục",
                  "rescanButton;;Quét lại", "unreadableNotice;visible;false"});
    page("trash",
         {"unreadableNotice;labels;SorviClean không có quyền đọc thư mục này. Hãy kiểm tra quyền "
          "của thư mục (tài khoản của bạn cần quyền đọc và mở thư mục), rồi bấm Quét lại.",
          "unreadableNotice;buttons;", "unreadableNotice;visible;true",
          "categoryContent;;emptyPage"});
    page("ios", {"searchNote;;Không có thư mục nào để tìm trên hệ thống này."});
    page("uninstaller", {"searchField;;Tìm ứng dụng", "sortPicker;;Tên|Dung lượng|Lần dùng cuối",
                         "loadingLabel;;Đang tải danh sách...", "reloadButton;toolTip;Tải lại",
                         "placeholderText;;Chọn một ứng dụng để xem chi tiết và gỡ cài đặt"});
    page("detail",
         {"leftoversHeading;;File liên quan", "revealAppButton;;Hiện trong trình quản lý tệp",
          "protectedNoticeText;;Đây là ứng dụng hệ thống do trình quản lý gói cài đặt, SorviClean "
          "không gỡ ứng dụng này.",
          "runningNoticeText;;Ứng dụng đang chạy. SorviClean sẽ thoát ứng dụng trước khi gỡ.",
          "noLeftoversLabel;;Không tìm thấy file thừa trong thư mục cá nhân.",
          "trashNote;;Các mục sẽ được chuyển vào Thùng rác, có thể khôi phục."});
    page("monitor", {"monitorTitle;;Theo dõi hệ thống", "cpuCard/cardTitle;;CPU",
                     "memoryCard/cardTitle;;Bộ nhớ", "networkCard/cardTitle;;Mạng",
                     "diskCard/cardTitle;;Ổ đĩa", "chartBox;;2 phút gần nhất (%)",
                     "collectingText;;Đang thu thập số liệu...", "chartKey;labels;Loại|CPU|Bộ nhớ",
                     "usageChartView;;Thời gian|%", "coresBox;;Từng nhân CPU",
                     "detailsBox;labels;Chi tiết|Bộ nhớ ứng dụng|Bộ nhớ hệ thống (wired)|Bộ nhớ "
                     "nén|Bộ đệm file|Swap|Tải trung bình|Thời gian chạy|Nhiệt độ|Hệ điều hành",
                     "processBox;;Tiến trình", "sortLabel;;Sắp xếp theo", "sortCpuButton;;CPU",
                     "sortMemoryButton;;Bộ nhớ", "quitProcessButton;;Thoát tiến trình",
                     "processTable;;Tên|CPU %|Bộ nhớ|PID",
                     "processCaption;;Chỉ hiển thị tiến trình của tài khoản bạn. Tiến trình hệ "
                     "thống cần quyền quản trị."});
    // NOLINTEND(bugprone-suspicious-missing-comma)
}

void TestTexts::quotedText()
{
    QFETCH(QStringList, row);
    const QString &page = row[0], &path = row[1], &kind = row[2], &expected = row[3];
    MainWindow& window = m_fixture->window;
    AppIcons icons;
    std::optional<AppDetailView> detail;
    InstalledApp app;
    app.url = TestHome::path() + "/X.app";
    if (page == u"detail")
        detail.emplace(&m_fixture->uninstaller, app, &icons);
    else if (page != u"window")
        window.setSelection(page);
    const QObject* root = detail ? &*detail : page == u"window" ? &window : window.detail();
    QCOMPARE(read(root, path, kind), expected);
}

void TestTexts::computedText()
{
    QStringList shownTexts, expectedTexts; // compared whole, one line each
    const auto row = [&](const char* name, const QString& shown, const QString& expected) {
        shownTexts << name + (": " + shown);
        expectedTexts << name + (": " + expected);
    };
    using R = Palette::Role;
    // The last field is the tint: 2 destructive, 4 success.
    for (const auto& [info, text] :
         {std::pair{BatteryInfo{20, false, false, {}}, "20%|Đang dùng pin|battery.75|2"},
          {{21, false, false, {}}, "21%|Đang dùng pin|battery.75|4"},
          {{15, false, true, {}}, "15%|Đã cắm sạc|battery.75|4"},
          {{50, true, true, 30}, "50%|Đang sạc|battery.100.bolt|4"},
          {{80, false, false, 125}, "80%|Còn khoảng 2 giờ 5 phút|battery.75|4"}})
        row("battery", card(MonitorCards::battery(info)), text);
    SystemSnapshot snapshot;
    for (const auto& [level, word, tint] :
         {std::tuple{1, "Bình thường", R::success}, std::tuple{2, "Cảnh báo", R::warning},
          std::tuple{3, "Bình thường", R::success}, std::tuple{4, "Nguy cấp", R::destructive}}) {
        snapshot.memory.pressure = level;
        const StatCard memory = MonitorCards::memory(snapshot);
        row("pressure", memory.detail + u'|' + role(memory.tint),
            QStringLiteral("Áp lực: ") + word + u'|' + role(tint));
    }
    const StatCard low = MonitorCards::disk({500'000'000'000, 9'999'999'999});
    row("disk nearly full", card(low),
        formatBytes(490'000'000'001) + " / " + formatBytes(500'000'000'000) + "|Còn trống " +
            formatBytes(9'999'999'999) + "|internaldrive|" + role(R::destructive));
    row("uptimes",
        MonitorText::uptime(3661) + '|' + MonitorText::uptime(86399) + '|' +
            MonitorText::uptime(90061),
        "1 giờ 1 phút|23 giờ 59 phút|1 ngày 1 giờ");
    row("loads", MonitorText::loads({1.5, 0.25, 2}), "1.50  0.25  2.00");
    QStringList tildes; // below home, home, a longer user name, home inside a path, home "/"
    for (const char* folder : {"/home/an/Library", "/home/an", "/home/anna/x", "/mnt/home/an"})
        tildes << CheckableListModel::abbreviateHome(folder, "/home/an");
    tildes << CheckableListModel::abbreviateHome("/Library", "/");
    row("home as ~", tildes.join(u'|'), "~/Library|~|/home/anna/x|/mnt/home/an|/Library");
    row("line breaks", DisplayText::singleLine("a\nb\r\nc\u2028d\u2029e\u0085f"), "a↵b↵↵c↵d↵e↵f");
    row("tab and controls", DisplayText::singleLine("a\tb\u0001c\u007Fd"), "a b�c�d");
    row("long line capped", DisplayText::singleLine(QString(5000, u'x')), QString(400, u'x') + "…");
    const QString smile = QStringLiteral("😀");
    row("pair never split", DisplayText::singleLine(u'a' + smile.repeated(500)),
        u'a' + smile.repeated(199) + "…");
    row("direction override", DisplayText::isolated(DisplayText::singleLine("\u202Eexe")),
        QChar(0x2068) + QStringLiteral("\u202Eexe") + QChar(0x2069));
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
    QCOMPARE(shownTexts, expectedTexts);
}

SORVI_TEST_GUI_MAIN(TestTexts)
#include "tst_texts.moc"
