#pragma once

#include "contact.h"
#include "protocol.h"

#include <QTest>

// Text i (0..22) of a contact, in column order.
inline QString &textField(Contact &c, int i)
{
    static QString Contact::*const fixed[] = {
        &Contact::name,   &Contact::firstName, &Contact::work, &Contact::home,
        &Contact::mobile, &Contact::address,   &Contact::zip,  &Contact::town,
        &Contact::email,  &Contact::web,       &Contact::notes};
    if (i < 11)
        return c.*fixed[i];
    auto &slot = (i - 11) % 2 ? c.customValue : c.customLabel;
    return slot[(i - 11) / 2];
}

// Every text two characters long and distinct: a letter of its own (from the given one), then 字.
inline Contact distinctContact(char first = 'A')
{
    Contact c;
    for (int i = 0; i < 23; ++i)
        textField(c, i) = QChar(first + i) + QStringLiteral("字");
    c.customCount = 0x01020304;
    return c;
}

// Lets QCOMPARE show two contacts that differ, as their payloads followed by the id.
inline char *toString(const Contact &c)
{
    return QTest::toString(Protocol::encodeContactWithId(c, quint64(c.id)).toHex(' '));
}
