#pragma once

#include "platform/desktop.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>
#include <chrono>
#include <functional>
#include <optional>

namespace Feed {
struct Document;
}

/// Finds out whether a newer build of the program has been published in the update feed, and
/// opens the download page. Lives on the GUI thread; every field is read and written there, only
/// the transfer waits elsewhere. Nothing throws: failures of a manual check become `message`,
/// failures of a periodic one leave no trace.
class UpdateChecker : public QObject
{
    Q_OBJECT
    Q_PROPERTY(
        std::optional<UpdateChecker::Available> available READ available NOTIFY availableChanged)
    Q_PROPERTY(std::optional<QString> message READ message NOTIFY messageChanged)
    Q_PROPERTY(QString currentVersion READ currentVersion CONSTANT)

public:
    /// A newer release found in the feed.
    struct Available
    {
        QString version;   ///< as the feed gives it, for display only
        qint64 build = 0;  ///< the only thing compared
        QStringList notes; ///< release-note lines in feed order; empty when the feed gives none

        bool operator==(const Available&) const = default;
    };

    /// Looks up one environment variable: empty when it is not set (set but empty is "").
    using EnvironmentLookup = std::function<std::optional<QString>(const QString& name)>;

    /// Timings; the defaults are the product's.
    struct Timing
    {
        std::chrono::milliseconds transferTimeout = std::chrono::seconds(15); ///< whole exchange
        std::chrono::milliseconds interval = std::chrono::hours(6); ///< end of a check to next
    };

    /// The identifier under which this program is listed in the feed.
    static constexpr QLatin1String appID{"sorviclean"};

    /// The environment of this process.
    static std::optional<QString> processEnvironment(const QString& name);

    /// `info` is read once: CFBundleShortVersionString, CFBundleVersion, SorviUpdateFeedURL.
    explicit UpdateChecker(QVariantMap info = Desktop::ownInfoDictionary(),
                           QObject* parent = nullptr);
    /// For tests: other timings and another environment.
    UpdateChecker(QVariantMap info, Timing timing, EnvironmentLookup environment,
                  QObject* parent = nullptr);

    /// The newer release found by the last successful comparison; empty when the running build is
    /// up to date or nothing has been found yet.
    std::optional<Available> available() const { return m_available; }

    /// Outcome text of the last manual check, until clearMessage(); Vietnamese, shown as is.
    std::optional<QString> message() const { return m_message; }
    /// Called when the user dismisses the alert that shows `message`.
    void clearMessage();

    /// CFBundleShortVersionString of the information dictionary when it is text, else "0".
    QString currentVersion() const;
    /// CFBundleVersion parsed as a signed decimal 64-bit integer (optional sign, digits only);
    /// 0 when missing, not text or not such a number.
    qint64 currentBuild() const;
    /// From SORVI_UPDATE_FEED_URL when that variable is set (even to ""), else from the
    /// dictionary's SorviUpdateFeedURL; see FeedAddress::fromText. Read afresh on every call.
    std::optional<QUrl> feedURL() const;
    /// The download page belonging to feedURL(); empty without a feed address.
    std::optional<QUrl> downloadPageURL() const;

    /// Checks at once and then `interval` after the end of each check, for the life of the
    /// object. Does nothing when already looping or when there is no feed address.
    void start();

    /// One check. A manual one (the user asked) reports every outcome but a newer release in
    /// `message`; a periodic one only sets or clears `available`. Overlapping checks are not
    /// excluded: the last to finish writes last. Ends within the transfer time-out. GUI thread.
    QCoro::Task<> check(bool manual);

    /// Opens downloadPageURL() in the default browser; nothing without one.
    void openDownloadPage() const;

signals:
    void availableChanged();
    void messageChanged();

private:
    void fail(const QString& description, bool manual);
    void compare(const Feed::Document& feed, bool manual);
    void setAvailable(std::optional<Available> available);
    void setMessage(const QString& text);
    void runPeriodicCheck();

    QVariantMap m_info;
    Timing m_timing;
    EnvironmentLookup m_environment;
    std::optional<Available> m_available;
    std::optional<QString> m_message;
    QTimer m_next;
    bool m_looping = false;
};
