#pragma once

#include <QDir>
#include <QString>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>

/// HOME, the XDG base folders and FLATPAK_USER_DIR of each test program, in its own temporary
/// folder, set before anything reads them (the places are read once).
namespace TestHome {

inline QTemporaryDir& directory()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/sorvi-test-XXXXXX"));
    return dir;
}

/// The temporary home folder (absolute, no trailing slash).
inline QString path()
{
    return directory().path();
}

/// The freedesktop trash of the temporary home ($XDG_DATA_HOME/Trash).
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
    BrokenTrash(const BrokenTrash&) = delete;
    BrokenTrash& operator=(const BrokenTrash&) = delete;

private:
    const QString m_info = trashPath() + QStringLiteral("/info");
};

/// Creates the temporary home and points the environment at it; first thing in main().
inline void prepare()
{
    if (!directory().isValid()) qFatal("cannot create a temporary home");
    const QByteArray home = QFile::encodeName(path());
    setenv("HOME", home.constData(), 1);
    const std::pair<const char*, const char*> places[] = {
        {"XDG_DATA_HOME", "/.local/share"},
        {"XDG_CACHE_HOME", "/.cache"},
        {"XDG_CONFIG_HOME", "/.config"},
        {"XDG_STATE_HOME", "/.local/state"},
        {"FLATPAK_USER_DIR", "/.local/share/flatpak"}};
    for (const auto& [variable, relative] : places) {
        QDir().mkpath(QFile::decodeName(home + relative));
        setenv(variable, (home + relative).constData(), 1);
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

/// main() for a test without widgets.
#define SORVI_TEST_MAIN(TestObject) SORVI_TEST_MAIN_IMPL(TestObject, QCoreApplication)

/// main() for a test with widgets, on the offscreen platform unless another one is set.
#define SORVI_TEST_GUI_MAIN(TestObject)                                                            \
    static const bool sorviOffscreen_ = [] {                                                       \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                                        \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                               \
        return true;                                                                               \
    }();                                                                                           \
    SORVI_TEST_MAIN_IMPL(TestObject, QApplication)
