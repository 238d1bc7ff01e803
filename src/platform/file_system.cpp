// The parts of the file-system contract that only handle path text, the same on every system.
#include "platform/file_system.h"

#include <QDir>
#include <sys/stat.h>

namespace FileSystem {

QString homeDirectory()
{
    static const QString home = QDir::homePath();
    return home;
}

bool Attributes::isDirectory() const
{
    return type == S_IFDIR;
}

QString standardized(const QString& path)
{
    return QDir::cleanPath(path);
}

QString lastComponent(const QString& path)
{
    QString clean = standardized(path);
    if (clean == u"/") return clean;
    return clean.mid(clean.lastIndexOf(u'/') + 1);
}

QString extension(const QString& path)
{
    const QString name = lastComponent(path);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot <= 0 ? QString() : name.mid(dot + 1);
}

} // namespace FileSystem
