#pragma once

#include <QFile>
#include <QTest>
#include <initializer_list>

// A data-driven test's table: one column holding a row struct, each row named
// by the struct's `name`. The test takes it with QFETCH(Row, row).
template <class Row> void AddRows(std::initializer_list<Row> rows) {
    QTest::addColumn<Row>("row");
    for (const Row& row : rows)
        QTest::newRow(row.name) << row;
}

// A file a test lays down; false if it could not.
inline bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
