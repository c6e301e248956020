#pragma once

#include "passwords.h"
#include "serverdatabase.h"
#include "serversettings.h"

#include <QDir>
#include <QSettings>
#include <QString>

// What the server's tests share: the password their clients know and a fresh server home.
namespace ServerFixture {

inline const QString Password = QStringLiteral("s3cret 口令");

// The password field every request of a right client carries.
inline QString field()
{
    return Passwords::fieldText(Passwords::sha1Digest(Password));
}

inline QString settingsFile()
{
    return QSettings(ServerSettings::Organisation, ServerSettings::Application).fileName();
}

// Empty settings and a new, empty database; with the password stored when asked.
inline bool freshHome(bool withPassword)
{
    QSettings(ServerSettings::Organisation, ServerSettings::Application).clear();
    QDir(ServerDatabase::dataDirectory()).removeRecursively();
    return ServerDatabase().initialise() &&
           (!withPassword || ServerSettings::setPassword(Password));
}

} // namespace ServerFixture
