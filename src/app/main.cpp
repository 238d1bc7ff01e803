#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("SorviClean"));
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("SorviClean"));
    window.setMinimumSize(960, 620);
    window.show();
    return QApplication::exec();
}
