// The parts of the file-system contract that are the same on every system: path text, and the
// words for a failure.
#include "platform/file_system.h"

#include "platform/error_text.h"

#include <QDir>
#include <sys/stat.h>

namespace FileSystem {

Outcome Outcome::failure(int errorNumber)
{
    return Outcome{ErrorText::ofErrno(errorNumber)};
}

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

bool isWithin(const QString& inner, const QString& outer)
{
    return inner == outer || inner.startsWith(outer == u"/" ? outer : outer + u'/');
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
