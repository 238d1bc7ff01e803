#include "support/test_home.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstdlib>

namespace TestHome {
namespace {

QTemporaryDir& directory()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/sorvi-test-XXXXXX"));
    return dir;
}

} // namespace

void prepare()
{
    QTemporaryDir& dir = directory();
    if (!dir.isValid())
        qFatal("cannot create a temporary home");
    const QByteArray home = QFile::encodeName(dir.path());
    const QByteArray data = home + "/.local/share";
    QDir().mkpath(QString::fromLocal8Bit(data));
    setenv("HOME", home.constData(), 1);
    setenv("XDG_DATA_HOME", data.constData(), 1);
}

QString path()
{
    return directory().path();
}

QString trashPath()
{
    return path() + QStringLiteral("/.local/share/Trash");
}

} // namespace TestHome
