#pragma once

#include <QString>

/// The byte-count formatter, in Vietnamese whatever the system locale (the product is
/// Vietnamese-only: "0 byte", "1,5 MB"). A count that would round up to 1000 (1024) of its unit is
/// shown in the next unit. Pure; any thread.
namespace ByteCount {

/// File style: decimal multiples (1 kB = 1000 bytes), one decimal.
QString file(qint64 bytes);

/// Memory style: multiples of 1024, one decimal.
QString memory(quint64 bytes);

} // namespace ByteCount
