#include "update/update_checker.h"

#include "update/feed.h"
#include "update/feed_address.h"
#include "update/feed_transfer.h"

#include <QPointer>

namespace {

bool isText(const QVariant& value)
{
    return value.metaType() == QMetaType::fromType<QString>();
}

std::optional<qint64> parseInt64(const QString& text)
{
    qsizetype i = 0;
    const bool negative = text.startsWith(QLatin1Char('-'));
    if (negative || text.startsWith(QLatin1Char('+'))) ++i;
    if (i == text.size()) return std::nullopt;
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9') return std::nullopt;
        // Accumulating towards the sign keeps the most negative value representable.
        const int digit = c - u'0';
        if (__builtin_mul_overflow(value, 10, &value) ||
            __builtin_add_overflow(value, negative ? -digit : digit, &value))
            return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<QString> UpdateChecker::processEnvironment(const QString& name)
{
    const QByteArray key = name.toLocal8Bit();
    if (!qEnvironmentVariableIsSet(key.constData())) return std::nullopt;
    return qEnvironmentVariable(key.constData());
}

UpdateChecker::UpdateChecker(QVariantMap info, QObject* parent)
    : UpdateChecker(std::move(info), Timing{}, &UpdateChecker::processEnvironment, parent)
{
}

UpdateChecker::UpdateChecker(QVariantMap info, Timing timing, EnvironmentLookup environment,
                             QObject* parent)
    : QObject(parent), m_info(std::move(info)), m_timing(timing),
      m_environment(std::move(environment))
{
    m_next.setSingleShot(true);
    m_next.setInterval(m_timing.interval);
    connect(&m_next, &QTimer::timeout, this, &UpdateChecker::runPeriodicCheck);
}

void UpdateChecker::clearMessage()
{
    if (!m_message) return;
    m_message.reset();
    emit messageChanged();
}

QString UpdateChecker::currentVersion() const
{
    const QVariant value = m_info.value(QStringLiteral("CFBundleShortVersionString"));
    return isText(value) ? value.toString() : QStringLiteral("0");
}

qint64 UpdateChecker::currentBuild() const
{
    const QVariant value = m_info.value(QStringLiteral("CFBundleVersion"));
    if (!isText(value)) return 0;
    return parseInt64(value.toString()).value_or(0);
}

std::optional<QUrl> UpdateChecker::feedURL() const
{
    QString raw;
    if (const std::optional<QString> variable =
            m_environment(QStringLiteral("SORVI_UPDATE_FEED_URL")))
        raw = *variable;
    else if (const QVariant value = m_info.value(QStringLiteral("SorviUpdateFeedURL"));
             isText(value))
        raw = value.toString();
    return FeedAddress::fromText(raw);
}

std::optional<QUrl> UpdateChecker::downloadPageURL() const
{
    const std::optional<QUrl> feed = feedURL();
    if (!feed) return std::nullopt;
    return FeedAddress::downloadPage(*feed, currentVersion());
}

void UpdateChecker::start()
{
    if (m_looping || !feedURL()) return;
    m_looping = true;
    runPeriodicCheck();
}

void UpdateChecker::runPeriodicCheck()
{
    // The next check is scheduled from the end of this one; the timer dies with the checker.
    QCoro::connect(check(false), this, [this] { m_next.start(); });
}

QCoro::Task<> UpdateChecker::check(bool manual)
{
    const std::optional<QUrl> feed = feedURL();
    if (!feed) {
        if (manual) setMessage(QStringLiteral("Chưa cấu hình địa chỉ kiểm tra cập nhật."));
        co_return;
    }

    QPointer<UpdateChecker> self(this);
    auto transfer = FeedTransfer::fetch(*feed, m_timing.transferTimeout);
    const FeedTransfer::Result result = co_await transfer;
    if (!self) co_return;
    if (!result.ok) {
        fail(result.error, manual);
        co_return;
    }
    const Feed::Decoded decoded = Feed::decode(result.body);
    if (!decoded.document) {
        fail(decoded.error, manual);
        co_return;
    }
    compare(*decoded.document, manual);
}

void UpdateChecker::fail(const QString& description, bool manual)
{
    if (manual) setMessage(QStringLiteral("Không kiểm tra được cập nhật: ") + description);
}

void UpdateChecker::compare(const Feed::Document& feed, bool manual)
{
    const auto entry = std::find_if(feed.apps.cbegin(), feed.apps.cend(),
                                    [](const Feed::Entry& e) { return e.id == appID; });
    if (entry == feed.apps.cend() || entry->versions.isEmpty()) {
        if (manual) setMessage(QStringLiteral("Không tìm thấy thông tin phiên bản."));
        return;
    }
    const Feed::Release* newest = &entry->versions.first();
    for (const Feed::Release& release : entry->versions)
        if (release.build > newest->build) newest = &release;

    if (currentBuild() < newest->build) {
        setAvailable(Available{newest->version, newest->build, newest->notes});
        return;
    }
    setAvailable(std::nullopt);
    if (manual)
        setMessage(QStringLiteral("Bạn đang dùng bản mới nhất (") + currentVersion() +
                   QStringLiteral(")."));
}

void UpdateChecker::setAvailable(std::optional<Available> available)
{
    if (m_available == available) return;
    m_available = std::move(available);
    emit availableChanged();
}

void UpdateChecker::setMessage(const QString& text)
{
    if (m_message == text) return;
    m_message = text;
    emit messageChanged();
}

void UpdateChecker::openDownloadPage() const
{
    if (const std::optional<QUrl> page = downloadPageURL()) Desktop::openUrl(*page);
}
