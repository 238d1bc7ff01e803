#pragma once

#include <QStringList>
#include <QtTest>
#include <initializer_list>

/// Compact data tables: one text per row, its fields separated by ";", the first field the row's
/// tag and every other one a QString column.
namespace Rows {

inline void add(std::initializer_list<const char*> columns, std::initializer_list<const char*> rows)
{
    for (const char* column : columns)
        QTest::addColumn<QString>(column);
    for (const char* text : rows) {
        const QStringList fields = QString::fromUtf8(text).split(u';');
        QTestData& row = QTest::newRow(qPrintable(fields[0]));
        for (const QString& field : fields.mid(1))
            row << field;
    }
}

} // namespace Rows
