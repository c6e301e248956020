#pragma once

#include "contact.h"

#include <QList>
#include <QStringList>
#include <QTest>
#include <functional>
#include <utility>

// The 23 texts of a contact in column order, each with its column's name, so that tests can
// walk every field instead of naming a few.
using TextField = std::pair<const char *, std::function<QString &(Contact &)>>;

inline QList<TextField> textFields()
{
    QList<TextField> fields = {
        {"name", [](Contact &c) -> QString & { return c.name; }},
        {"firstName", [](Contact &c) -> QString & { return c.firstName; }},
        {"work", [](Contact &c) -> QString & { return c.work; }},
        {"home", [](Contact &c) -> QString & { return c.home; }},
        {"mobile", [](Contact &c) -> QString & { return c.mobile; }},
        {"address", [](Contact &c) -> QString & { return c.address; }},
        {"zip", [](Contact &c) -> QString & { return c.zip; }},
        {"town", [](Contact &c) -> QString & { return c.town; }},
        {"email", [](Contact &c) -> QString & { return c.email; }},
        {"web", [](Contact &c) -> QString & { return c.web; }},
        {"notes", [](Contact &c) -> QString & { return c.notes; }},
    };
    static const char *const labels[] = {"customLabel1", "customLabel2", "customLabel3",
                                         "customLabel4", "customLabel5", "customLabel6"};
    static const char *const values[] = {"customValue1", "customValue2", "customValue3",
                                         "customValue4", "customValue5", "customValue6"};
    for (int k = 0; k < Contact::CustomSlots; ++k) {
        fields.append({labels[k], [k](Contact &c) -> QString & { return c.customLabel[k]; }});
        fields.append({values[k], [k](Contact &c) -> QString & { return c.customValue[k]; }});
    }
    return fields;
}

// Lets QCOMPARE show which values of two contacts differ.
inline char *toString(const Contact &c)
{
    QStringList parts;
    Contact copy = c;
    for (const auto &[column, field] : textFields())
        parts << QLatin1String(column) + QLatin1Char('=') + field(copy);
    parts << QStringLiteral("customCount=%1 id=%2").arg(c.customCount).arg(c.id);
    return QTest::toString(parts.join(QStringLiteral(", ")));
}
