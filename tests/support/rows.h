#pragma once

#include <QtTest>
#include <initializer_list>

/// Data tables of QString columns, one text a row: "tag;field;field…".
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
