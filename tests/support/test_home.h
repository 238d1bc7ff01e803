#pragma once

#include <QString>
#include <QtTest>

/// Every test program runs with HOME, the XDG base folders and FLATPAK_USER_DIR inside its own
/// temporary folder, set before anything reads them (the places are read once).
namespace TestHome {

/// Creates the temporary home and points the environment at it. Call first thing in main().
void prepare();

/// The temporary home folder (absolute, no trailing slash).
QString path();

/// The freedesktop trash of the temporary home ($XDG_DATA_HOME/Trash).
QString trashPath();

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

/// main() for a test with widgets. Runs on the offscreen platform unless another one is set, so
/// it needs no display.
#define SORVI_TEST_GUI_MAIN(TestObject)                                                            \
    static const bool sorviOffscreen_ = [] {                                                       \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                                        \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                               \
        return true;                                                                               \
    }();                                                                                           \
    SORVI_TEST_MAIN_IMPL(TestObject, QApplication)
