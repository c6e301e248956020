#pragma once

#include <QDataStream>
#include <QMetaType>
#include <QString>
#include <array>
#include <utility>

// One row of the contacts table: the 24 stored values plus the row id.
struct Contact
{
    static constexpr int CustomSlots = 6;
    static constexpr int ValueCount = 24; // positions 0..23, the values a client edits

    QString name;
    QString firstName;
    QString work;
    QString home;
    QString mobile;
    QString address;
    QString zip;
    QString town;
    QString email;
    QString web;
    QString notes;
    qint32 customCount = 0;
    std::array<QString, CustomSlots> customLabel;
    std::array<QString, CustomSlots> customValue;
    qint64 id = -1; // -1 while the row does not exist yet

    // customCount limited to the slots that exist; files made elsewhere may hold anything.
    int shownCustomCount() const;

    // Every text made non-null: SQLite must store '' and the wire must carry an empty text.
    void normalise();

    QString displayText() const { return displayText(name, firstName); }
    static QString displayText(const QString &name, const QString &firstName);
    // Splits a list entry back into (name, firstName): pieces between spaces, empty ones dropped.
    static std::pair<QString, QString> splitDisplayText(const QString &text);

    friend bool operator==(const Contact &a, const Contact &b);
    friend bool operator!=(const Contact &a, const Contact &b) { return !(a == b); }
};

// The 24 values in column order, as the contact payload carries them (no id).
QDataStream &operator<<(QDataStream &out, const Contact &c);
// Reads the 24 values; a stream that ends early leaves empty texts and a count of 0.
QDataStream &operator>>(QDataStream &in, Contact &c);

Q_DECLARE_METATYPE(Contact)
