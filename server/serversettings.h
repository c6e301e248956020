#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Every key of the server's settings store. Each call opens the store anew, so a value written
// by one thread is what the next reader on any thread gets. Every setter tells whether the value
// reached the file; one that did not is not kept in this process either.
namespace ServerSettings {

extern const char Organisation[]; // "brisvane"
extern const char Application[];  // "Pelicard-server"

// Removes the store's write lock left by a server that was killed while writing. Only for a
// process that holds the data folder: no other server writes this store then, and the lock's
// process id may already be another program's, which would keep every write waiting.
void removeStaleLock();

// The box shown when a setter failed.
QString errorTitle();
QString errorText();

// The password field every message carries: the stored digest read back as text, null when no
// password was ever stored. Nothing when the store cannot be read or holds a digest too weak to
// use: then no password opens the server, not even none.
std::optional<QString> passwordText();
// Why the store cannot be read (its path and the reason); empty when it can. A missing file
// can be read: it is a first start.
QString readError();
// A stored digest that a password typed today could not give (see MinimumTextBytes).
bool storedPasswordIsWeak();
// True when a digest is stored (the window then shows a placeholder instead of the password).
bool hasPassword();
// False for a password whose digest holds a zero byte among its first MinimumTextBytes: the
// password text stops at that byte, and the one in 256 digests that starts with it would give an
// empty text that matches the null field of anybody.
constexpr int MinimumTextBytes = 8;
bool isUsablePassword(const QString &clear);
// Stores the digest of a newly typed password.
bool setPassword(const QString &clear);

int port();
bool setPort(int port);
bool startWithProgram();
bool setStartWithProgram(bool start);
QByteArray geometry();
bool setGeometry(const QByteArray &geometry);

// The raw counter; Revision serialises every change to it.
quint64 revision();
bool setRevision(quint64 revision);

} // namespace ServerSettings
