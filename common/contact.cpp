#include "contact.h"

#include "texts.h"

#include <QStringList>
#include <algorithm>

namespace {
template <typename F> void forEachText(Contact &c, F f)
{
    for (QString *s : {&c.name, &c.firstName, &c.work, &c.home, &c.mobile, &c.address, &c.zip,
                       &c.town, &c.email, &c.web, &c.notes})
        f(*s);
    for (int k = 0; k < Contact::CustomSlots; ++k) {
        f(c.customLabel[k]);
        f(c.customValue[k]);
    }
}

} // namespace

int Contact::shownCustomCount() const
{
    return std::clamp(int(customCount), 0, CustomSlots);
}

void Contact::normalise()
{
    forEachText(*this, [](QString &s) { s = nonNullText(s); });
}

QString Contact::displayText(const QString &name, const QString &firstName)
{
    return name + QLatin1Char(' ') + firstName;
}

std::pair<QString, QString> Contact::splitDisplayText(const QString &text)
{
    QStringList pieces = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (pieces.isEmpty())
        return {QStringLiteral(""), QStringLiteral("")};
    const QString name = pieces.takeFirst();
    return {name, nonNullText(pieces.join(QLatin1Char(' ')))};
}

bool operator==(const Contact &a, const Contact &b)
{
    return a.name == b.name && a.firstName == b.firstName && a.work == b.work && a.home == b.home &&
           a.mobile == b.mobile && a.address == b.address && a.zip == b.zip && a.town == b.town &&
           a.email == b.email && a.web == b.web && a.notes == b.notes &&
           a.customCount == b.customCount && a.customLabel == b.customLabel &&
           a.customValue == b.customValue && a.id == b.id;
}

QDataStream &operator<<(QDataStream &out, const Contact &c)
{
    for (const QString *s : {&c.name, &c.firstName, &c.work, &c.home, &c.mobile, &c.address, &c.zip,
                             &c.town, &c.email, &c.web, &c.notes})
        out << nonNullText(*s);
    out << c.customCount;
    for (int k = 0; k < Contact::CustomSlots; ++k)
        out << nonNullText(c.customLabel[k]) << nonNullText(c.customValue[k]);
    return out;
}

QDataStream &operator>>(QDataStream &in, Contact &c)
{
    for (QString *s : {&c.name, &c.firstName, &c.work, &c.home, &c.mobile, &c.address, &c.zip,
                       &c.town, &c.email, &c.web, &c.notes})
        in >> *s;
    in >> c.customCount;
    for (int k = 0; k < Contact::CustomSlots; ++k)
        in >> c.customLabel[k] >> c.customValue[k];
    c.normalise();
    return in;
}
