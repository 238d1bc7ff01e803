#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

/// The [Desktop Entry] group of a freedesktop desktop entry. Entries are written by any program
/// the user installed, so the text is untrusted: the file is bounded, every byte sequence parses
/// to some result, and paths keep their exact bytes (PathCodec). A value; any thread.
class DesktopEntry
{
public:
    static constexpr qint64 kMaxBytes = qint64(512) * 1024;

    /// nullopt when the data holds no [Desktop Entry] group or is larger than kMaxBytes.
    static std::optional<DesktopEntry> parse(QByteArrayView data);
    /// parse() of a regular file (a link at the path is followed, a FIFO is not waited for).
    static std::optional<DesktopEntry> read(const QString& path);

    /// The unescaped value of `key` as text ("" when absent).
    QString value(const QString& key) const;
    /// The value of key[vi_VN], else key[vi], else key: the Vietnamese text where there is one.
    QString localized(const QString& key) const;
    /// True for "true" (or the legacy "1").
    bool boolean(const QString& key) const;

    /// The Exec line split into arguments: quoting and its escapes undone, field codes (%f, %U…)
    /// removed, "%%" kept as "%". Arguments are decoded losslessly (PathCodec). Empty when the
    /// line is missing or malformed (an unterminated quote).
    QStringList execArguments() const;
    /// The program that the entry runs: TryExec when set, else the first argument of Exec that
    /// is not `env` or one of its VAR=VALUE assignments. "" when there is none.
    QString program() const;

    /// A launchable application that menus show: Type=Application, neither Hidden nor NoDisplay.
    bool isListable() const;

    /// Unescapes a string value: \s \n \t \r \\ (other sequences are kept as written).
    static QByteArray unescaped(QByteArrayView raw);
    /// Splits an unescaped Exec value; nullopt when a quote is not closed.
    static std::optional<QList<QByteArray>> splitExec(QByteArrayView exec);

private:
    QByteArray raw(const QString& key) const;

    QHash<QByteArray, QByteArray> m_values; ///< key (with its [locale]) → raw value
};

/// One desktop entry file of an applications folder.
struct DesktopFile
{
    QString path;
    QString id; ///< the desktop-file id: the path below the folder with "/" turned into "-"
    DesktopEntry entry;
};

/// The parsed *.desktop files directly in `folder` and one folder below it (in listing order, at
/// most kMaxDesktopFiles); files that do not parse are left out.
inline constexpr int kMaxDesktopFiles = 20000;
QList<DesktopFile> desktopFiles(const QString& folder);
