#pragma once

#include <QString>

// SQLite stores a null text as NULL and the wire carries it as a null string; both must get ''.
inline QString nonNullText(const QString &text)
{
    return text.isNull() ? QStringLiteral("") : text;
}
