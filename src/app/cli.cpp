#include "app/cli.h"

#include "app/cli_commands.h"
#include "app/cli_output.h"
#include "platform/desktop.h"
#include "platform/path_codec.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

namespace Cli {
namespace {

using CliOutput::err;
using CliOutput::out;

struct Command
{
    QString name;
    QString synopsis;
    QString summary;
    QStringList options;
    QCoro::Task<int> (*run)(Arguments);
};

const QList<Command>& commands()
{
    static const QList<Command> list{
        {QStringLiteral("scan"),
         QStringLiteral("[DANH-MỤC…] [--json]"),
         QStringLiteral("Quét các danh mục đã nêu (mặc định cả sáu, cùng lúc) và in, cho từng "
                        "danh mục, các thư mục đã tìm, các mục tìm thấy (lớn nhất trước) với "
                        "dung lượng, và tổng."),
         {QStringLiteral("json")},
         &scan},
        {QStringLiteral("clean"),
         QStringLiteral("DANH-MỤC (ĐƯỜNG-DẪN… | --all) [--dry-run] [--yes] [--json]"),
         QStringLiteral("Xoá các mục đã nêu của một danh mục (--all: mọi mục của một lần quét "
                        "mới) theo cách xoá của danh mục: vĩnh viễn, hoặc vào Thùng rác. Mọi "
                        "đường dẫn được kiểm tra với các thư mục của danh mục trước khi xoá bất "
                        "cứ thứ gì; chỉ một đường dẫn nằm ngoài là không xoá gì cả. Không có "
                        "--yes thì hỏi lại trên terminal, và từ chối khi không có terminal."),
         {QStringLiteral("all"), QStringLiteral("dry-run"), QStringLiteral("yes"),
          QStringLiteral("json")},
         &clean},
        {QStringLiteral("apps"),
         QStringLiteral("[--json]"),
         QStringLiteral("Liệt kê các ứng dụng mà trình gỡ cài đặt thấy: tên, phiên bản, mã, dung "
                        "lượng và đường dẫn. Ứng dụng của hệ thống được đánh dấu và không gỡ "
                        "được."),
         {QStringLiteral("json")},
         &apps},
        {QStringLiteral("uninstall"),
         QStringLiteral("MÃ-ỨNG-DỤNG [--keep-leftovers] [--dry-run] [--yes] [--json]"),
         QStringLiteral("Gỡ một ứng dụng như cửa sổ làm: thoát nó nếu đang chạy, rồi chuyển nó "
                        "và các tệp nó để lại vào Thùng rác. Ứng dụng được nêu bằng mã (cột mã "
                        "của lệnh apps), hoặc bằng đường dẫn khi hai ứng dụng cùng mã."),
         {QStringLiteral("keep-leftovers"), QStringLiteral("dry-run"), QStringLiteral("yes"),
          QStringLiteral("json")},
         &uninstall},
        {QStringLiteral("monitor"),
         QStringLiteral("--once [--json]"),
         QStringLiteral("In một lần số liệu hệ thống (hai lần đo cách nhau một giây): CPU, bộ "
                        "nhớ, swap, mạng, pin, tải trung bình và các tiến trình dùng CPU nhiều "
                        "nhất."),
         {QStringLiteral("once"), QStringLiteral("json")},
         &monitor},
    };
    return list;
}

QCommandLineOption option(const QString& name)
{
    static const QList<QCommandLineOption> options{
        {QStringLiteral("json"), QStringLiteral("In kết quả dạng JSON, một dòng.")},
        {QStringLiteral("all"), QStringLiteral("Mọi mục của một lần quét mới.")},
        {{QStringLiteral("n"), QStringLiteral("dry-run")},
         QStringLiteral("Chỉ in những gì sẽ đi và số byte sẽ giải phóng; không xoá gì.")},
        {{QStringLiteral("y"), QStringLiteral("yes")},
         QStringLiteral("Xoá mà không hỏi lại (cần khi không chạy trên terminal).")},
        {QStringLiteral("keep-leftovers"),
         QStringLiteral("Chỉ gỡ ứng dụng, giữ lại các tệp nó để lại.")},
        {QStringLiteral("once"), QStringLiteral("In một lần rồi thoát.")},
        {{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Hiện trợ giúp này.")},
    };
    for (const QCommandLineOption& each : options)
        if (each.names().contains(name)) return each;
    return options.last();
}

QString optionLine(const QCommandLineOption& option)
{
    QStringList names;
    for (const QString& name : option.names())
        names.append((name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name);
    return QStringLiteral("  ") + names.join(QStringLiteral(", ")).leftJustified(20) +
           option.description();
}

void printCommandHelp(const Command& command)
{
    out(QStringLiteral("Cách dùng: sorviclean ") + command.name + u' ' + command.synopsis);
    out(CliOutput::wrapped(command.summary));
    out();
    out(QStringLiteral("Tuỳ chọn:"));
    for (const QString& name : command.options + QStringList{QStringLiteral("help")})
        out(optionLine(option(name)));
}

QString categoryList()
{
    QStringList ids;
    for (const Category& category : Category::all())
        ids.append(category.id + QStringLiteral(" (") + category.title + u')');
    return ids.join(QStringLiteral(", "));
}

void printGeneralHelp()
{
    out(QStringLiteral("Cách dùng: sorviclean [LỆNH] [TUỲ CHỌN…]"));
    out(CliOutput::wrapped(QStringLiteral(
        "Dọn rác, gỡ ứng dụng và theo dõi hệ thống. Không có lệnh thì mở cửa sổ (--page ID: "
        "mục hiện khi mở; --screenshot FILE: chụp cửa sổ rồi thoát).")));
    out();
    out(QStringLiteral("Lệnh (sorviclean LỆNH --help cho biết thêm):"));
    for (const Command& command : commands())
        out(QStringLiteral("  ") + command.name + u' ' + command.synopsis);
    out();
    const QStringList paragraphs{
        QStringLiteral("Danh mục: ") + categoryList() + u'.',
        QStringLiteral("Mã thoát: 0 thành công; 1 có mục không xoá được; 2 dùng sai (lệnh, tuỳ "
                       "chọn, danh mục hay ứng dụng không có, đường dẫn nằm ngoài vùng cho "
                       "phép) hoặc chưa được xác nhận: khi đó không xoá gì."),
        QStringLiteral("JSON: clean và uninstall in {\"freed\":N,\"failures\":[…]}, với "
                       "--dry-run thì {\"total\":N,\"items\":[{\"path\",\"size\"}]}; dung "
                       "lượng là số byte nguyên. Mỗi byte không phải UTF-8 trong tên tệp được "
                       "viết thành \\udcXX (XX là byte đó), như \"surrogateescape\" của Python: "
                       "os.fsencode(json.loads(…)) cho lại đúng các byte, và đường dẫn đó truyền "
                       "lại cho clean chỉ đúng tệp ấy."),
        QStringLiteral("Văn bản in ra giữ nguyên byte của tên tệp; trên terminal, ký tự điều "
                       "khiển và byte không phải UTF-8 hiện thành \"?\" (như ls)."),
    };
    for (const QString& paragraph : paragraphs) {
        out(CliOutput::wrapped(paragraph));
        out();
    }
    out(QStringLiteral("  -h, --help          Hiện trợ giúp này."));
    out(QStringLiteral("  -v, --version       In phiên bản."));
}

void printVersion()
{
    const QVariantMap info = Desktop::ownInfoDictionary();
    out(QStringLiteral("SorviClean ") +
        info.value(QStringLiteral("CFBundleShortVersionString")).toString() +
        QStringLiteral(" (bản dựng ") + info.value(QStringLiteral("CFBundleVersion")).toString() +
        u')');
}

const Command* findCommand(const QString& name)
{
    for (const Command& command : commands())
        if (command.name == name) return &command;
    return nullptr;
}

bool parse(QCommandLineParser& parser, const Command& command, const QStringList& arguments)
{
    for (const QString& name : command.options + QStringList{QStringLiteral("help")})
        parser.addOption(option(name));
    if (parser.parse(arguments)) return true;
    const QStringList unknown = parser.unknownOptionNames();
    err(unknown.isEmpty() ? QStringLiteral("Tham số không hợp lệ: ") + parser.errorText()
                          : QStringLiteral("Tuỳ chọn không rõ: ") + unknown.join(u' ') +
                                QStringLiteral(" (xem: sorviclean ") + command.name +
                                QStringLiteral(" --help)."));
    return false;
}

int dispatch(const QStringList& arguments)
{
    const QString first = arguments.value(1);
    if (first == u"-h" || first == u"--help" || first == u"help") {
        printGeneralHelp();
        return kSuccess;
    }
    if (first == u"-v" || first == u"--version") {
        printVersion();
        return kSuccess;
    }
    const Command* command = findCommand(first);
    if (command == nullptr) {
        err(QStringLiteral("Không có lệnh “") + CliOutput::shown(first, CliOutput::Stream::err) +
            QStringLiteral("”. Các lệnh: scan, clean, apps, uninstall, monitor (xem: sorviclean "
                           "--help)."));
        return kUsage;
    }
    QStringList rest = arguments;
    rest.removeAt(1);
    QCommandLineParser parser;
    if (!parse(parser, *command, rest)) return kUsage;
    if (parser.isSet(QStringLiteral("help"))) {
        printCommandHelp(*command);
        return kSuccess;
    }
    Arguments args;
    args.positional = parser.positionalArguments();
    for (auto [flag, name] : {std::pair{&args.json, "json"},
                              {&args.yes, "yes"},
                              {&args.dryRun, "dry-run"},
                              {&args.all, "all"},
                              {&args.keepLeftovers, "keep-leftovers"},
                              {&args.once, "once"}})
        *flag = command->options.contains(QLatin1String(name)) &&
                parser.isSet(QString::fromLatin1(name));
    auto task = command->run(args);
    return QCoro::waitFor(task);
}

} // namespace

bool wanted(int argc, char* argv[])
{
    if (argc < 2) return false;
    const QByteArrayView first(argv[1]);
    return !first.startsWith('-') || first == "-h" || first == "--help" || first == "-v" ||
           first == "--version";
}

int run(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sorviclean"));
    // Decoded here, not by QCoreApplication::arguments(): that decoding replaces the bytes of a
    // name that is not UTF-8, and the name would no longer reach the same file.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(PathCodec::decode(QByteArrayView(argv[i])));
    const int code = dispatch(arguments);
    std::fflush(stdout);
    return code;
}

} // namespace Cli
