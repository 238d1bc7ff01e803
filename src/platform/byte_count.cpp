#include "platform/byte_count.h"

#include <QLocale>
#include <cmath>
#include <limits>

namespace ByteCount {
namespace {

// Qt picks the unit before it rounds, so 999,999 bytes would read "1.000,0 kB": a count that
// rounds up to the next unit is shown in that unit.
qint64 roundedUp(qint64 bytes, double base)
{
    const double magnitude = std::abs(double(bytes));
    double unit = 1;
    while (magnitude >= unit * base && unit < 1e18)
        unit *= base;
    if (unit == 1 || unit >= 1e18 || magnitude < unit * (base - 0.05)) return bytes;
    const qint64 next = qint64(unit * base);
    return bytes < 0 ? -next : next;
}

QString formatted(qint64 bytes, double base, QLocale::DataSizeFormats format)
{
    static const QLocale vietnamese(QLocale::Vietnamese, QLocale::Vietnam);
    return vietnamese.formattedDataSize(roundedUp(bytes, base), 1, format);
}

} // namespace

QString file(qint64 bytes)
{
    return formatted(bytes, 1000, QLocale::DataSizeSIFormat);
}

QString memory(quint64 bytes)
{
    constexpr quint64 kMax = quint64(std::numeric_limits<qint64>::max());
    return formatted(qint64(std::min(bytes, kMax)), 1024, QLocale::DataSizeTraditionalFormat);
}

} // namespace ByteCount
