#include "support/test_home.h"

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <utility>

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
    if (!dir.isValid()) qFatal("cannot create a temporary home");
    const QByteArray home = QFile::encodeName(dir.path());
    setenv("HOME", home.constData(), 1);
    // Every place the program derives from the environment points inside the temporary home, so
    // no test reads or changes the real user's folders.
    const std::pair<const char*, const char*> places[] = {
        {"XDG_DATA_HOME", "/.local/share"},
        {"XDG_CACHE_HOME", "/.cache"},
        {"XDG_CONFIG_HOME", "/.config"},
        {"XDG_STATE_HOME", "/.local/state"},
        {"FLATPAK_USER_DIR", "/.local/share/flatpak"}};
    for (const auto& [variable, relative] : places) {
        const QByteArray value = home + relative;
        QDir().mkpath(QString::fromLocal8Bit(value));
        setenv(variable, value.constData(), 1);
    }
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
