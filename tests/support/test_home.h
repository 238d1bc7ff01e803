#pragma once

#include "support/tree_builder.h"

#include <QtTest>
#include <cstdlib>

/// HOME, the XDG base folders and FLATPAK_USER_DIR of each test program in its own temporary
/// folder, set before anything reads them (the places are read once).
namespace TestHome {

/// The temporary home folder (absolute, no trailing slash); "" when it could not be made.
inline QString path()
{
    static const QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/sorvi-test-XXXXXX"));
    return dir.path();
}

/// `relative` below the temporary home; the home itself for "".
inline QString at(const QString& relative = {})
{
    return relative.isEmpty() ? path() : path() + u'/' + relative;
}

/// The home's desktop entry `id` of an application, `lines` after its type; "~" is the home.
inline bool putEntry(const QString& id, QByteArray lines)
{
    lines.replace('~', QFile::encodeName(path()));
    return TreeBuilder::putFile(at(".local/share/applications/" + id + ".desktop"),
                                "[Desktop Entry]\nType=Application\n" + lines + '\n');
}

inline QString trashPath()
{
    return path() + QStringLiteral("/.local/share/Trash");
}

/// While alive, the home trash takes nothing (its info folder is a file, refusing even root).
class BrokenTrash
{
public:
    BrokenTrash()
    {
        QDir().mkpath(m_info);
        QDir().rename(m_info, m_info + QStringLiteral(".kept"));
        QFile file(m_info);
        if (!file.open(QIODevice::WriteOnly)) qWarning("cannot break the trash");
    }
    ~BrokenTrash()
    {
        QFile::remove(m_info);
        QDir().rename(m_info + QStringLiteral(".kept"), m_info);
    }

private:
    const QString m_info = trashPath() + QStringLiteral("/info");
};

/// Creates the temporary home and points the environment at it; first thing in main().
inline void prepare()
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0); // unless another platform is set
    if (path().isEmpty()) qFatal("cannot create a temporary home");
    const QByteArray home = QFile::encodeName(path());
    for (const char* place : {"HOME=", "XDG_DATA_HOME=/.local/share", "XDG_CACHE_HOME=/.cache",
                              "XDG_CONFIG_HOME=/.config", "XDG_STATE_HOME=/.local/state",
                              "FLATPAK_USER_DIR=/.local/share/flatpak"}) {
        const QList<QByteArray> pair = QByteArray(place).split('=');
        QDir().mkpath(QFile::decodeName(home + pair[1]));
        setenv(pair[0].constData(), (home + pair[1]).constData(), 1);
    }
}

} // namespace TestHome

#define SORVI_TEST_MAIN_IMPL(TestObject, AppClass)                                                 \
    int main(int argc, char* argv[])                                                               \
    {                                                                                              \
        TestHome::prepare();                                                                       \
        AppClass app(argc, argv);                                                                  \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }

#define SORVI_TEST_MAIN(TestObject) SORVI_TEST_MAIN_IMPL(TestObject, QCoreApplication)

#define SORVI_TEST_GUI_MAIN(TestObject) SORVI_TEST_MAIN_IMPL(TestObject, QApplication)
