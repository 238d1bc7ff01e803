#include "support/bundle_fixture.h"

#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

namespace BundleFixture {

QString escapedXml(QString text)
{
    text.replace(u'&', QStringLiteral("&amp;"));
    text.replace(u'<', QStringLiteral("&lt;"));
    text.replace(u'>', QStringLiteral("&gt;"));
    return text;
}

QString stringEntry(const QString& key, const QString& value)
{
    return QStringLiteral("<key>%1</key><string>%2</string>")
        .arg(escapedXml(key), escapedXml(value));
}

QByteArray plistDocument(const QString& body)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                          "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                          "<plist version=\"1.0\">\n<dict>\n%1\n</dict>\n</plist>\n")
        .arg(body)
        .toUtf8();
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

bool writePlist(const QString& path, const QByteArray& xml, Format format)
{
    if (format == Format::Xml) return writeBytes(path, xml);
    const QString source = path + QStringLiteral(".xml");
    if (!writeBytes(source, xml)) return false;
    const int rc = QProcess::execute(QStringLiteral("plistutil"),
                                     {QStringLiteral("-i"), source, QStringLiteral("-o"), path,
                                      QStringLiteral("-f"), QStringLiteral("bin")});
    QFile::remove(source);
    QFile file(path);
    return rc == 0 && file.open(QIODevice::ReadOnly) && file.read(8) == "bplist00";
}

bool copySleep(const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile::remove(path);
    return QFile::copy(QStringLiteral("/bin/sleep"), path) &&
           TreeBuilder::setPermissions(path, 0755);
}

QString makeBundle(const QString& folder, const QString& fileName, const BundleShape& shape)
{
    const QString bundle = folder + u'/' + fileName;
    QString body = shape.extraEntries;
    if (!shape.identifier.isNull())
        body += stringEntry(QStringLiteral("CFBundleIdentifier"), shape.identifier);
    if (!shape.version.isNull())
        body += stringEntry(QStringLiteral("CFBundleShortVersionString"), shape.version);
    body += stringEntry(QStringLiteral("CFBundleExecutable"), shape.executable);
    if (!writePlist(bundle + QStringLiteral("/Contents/Info.plist"), plistDocument(body),
                    shape.format))
        return {};
    if (shape.withExecutable &&
        !copySleep(bundle + QStringLiteral("/Contents/MacOS/") + shape.executable))
        return {};
    return bundle;
}

QString makeBundle(const QString& folder, const QString& fileName, const QString& identifier)
{
    BundleShape shape;
    shape.identifier = identifier;
    return makeBundle(folder, fileName, shape);
}

InstalledApp appRecord(const QString& url, const QString& bundleID, std::optional<qint64> size)
{
    InstalledApp app;
    app.url = url;
    app.name = QFileInfo(url).completeBaseName();
    app.bundleID = bundleID;
    app.size = size;
    return app;
}

QString AppLayout::bundle(const QString& name, const QString& id, qint64 payload,
                          const QString& version) const
{
    BundleShape shape;
    shape.identifier = id;
    if (!version.isEmpty()) shape.version = version;
    shape.withExecutable = true;
    const QString url = makeBundle(apps, name + QStringLiteral(".app"), shape);
    if (payload > 0) TreeBuilder::writeFile(url + QStringLiteral("/Contents/Resources/payload"), payload);
    return url;
}

QString AppLayout::leftover(const QString& relative, qint64 size) const
{
    const QString path = library + u'/' + relative;
    TreeBuilder::writeFile(path, size);
    return path;
}

AppLayout freshAppLayout(const QString& prefix)
{
    static int counter = 0;
    AppLayout layout;
    layout.root = TestHome::path() + QStringLiteral("/%1-%2").arg(prefix).arg(++counter);
    layout.apps = layout.root + QStringLiteral("/Applications");
    layout.userApps = layout.root + QStringLiteral("/home/Applications");
    layout.library = layout.root + QStringLiteral("/home/Library");
    TreeBuilder::makeDir(layout.apps);
    layout.folders.appRoots = {layout.apps, layout.userApps};
    layout.folders.library = layout.library;
    return layout;
}

QStringList names(const QList<InstalledApp>& apps)
{
    QStringList list;
    for (const InstalledApp& app : apps)
        list.append(app.name);
    return list;
}

std::unique_ptr<QProcess> startProcess(const QString& executable, bool ignoreTerm)
{
    auto process = std::make_unique<QProcess>();
    const QString trap = ignoreTerm ? QStringLiteral("trap '' TERM; ") : QString();
    process->start(QStringLiteral("/bin/sh"),
                   {QStringLiteral("-c"), trap + QStringLiteral("exec \"$0\" 60"), executable});
    if (!process->waitForStarted(5000)) return nullptr;
    const QString exe = QStringLiteral("/proc/%1/exe").arg(process->processId());
    if (!QTest::qWaitFor([&] { return QFile::symLinkTarget(exe) == executable; }, 5000))
        return nullptr;
    return process;
}

} // namespace BundleFixture
