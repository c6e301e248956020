#pragma once

#include "protocol.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// The client's settings store: every group and key the client reads or writes lives here,
// together with the place of an account's database file. Each call opens the store anew and
// lets it go, so nothing read here can go stale.
class Accounts
{
public:
    static const QString Organisation; // "brisvane"
    static const QString Application;  // "Pelicard"
    static const QString LocalType;    // "local"
    static const QString NetworkType;  // "network"
    static const QString DefaultHost;  // "127.0.0.1"
    static constexpr int DefaultPort = Protocol::DefaultPort;

    // Why a name cannot become an account (it would break the store or the file path).
    enum class NameProblem { None, Empty, Separator, DotName, Reserved, TooLong };
    static NameProblem nameProblem(const QString &name);

    // What the new-account wizard collects; the clear passwords are only digested.
    struct NewAccount
    {
        QString name;
        bool network = false;
        bool usePassword = false;
        QString password;
        QString host = DefaultHost;
        int port = DefaultPort;
        QString serverPassword;
    };

    // Every setter tells whether its values reached the file; values that did not are not kept
    // in this process either, and errorString() says why. GUI thread only.
    static QString errorString();

    // Why the store cannot be read (its path and the reason); empty when it can. A missing
    // store can be read: it is a first start.
    static QString readError();
    // A store that cannot be read would pass for one without accounts, and the next write would
    // replace it; no setter writes to it. This moves it aside, to "<store>.unreadable-<time>",
    // so that a fresh one can be written. True when the store can be read now; *aside is where
    // the old one went, empty when nothing had to move.
    [[nodiscard]] static bool setAsideUnreadableStore(QString *aside);

    // Program-wide options.
    static bool checkUpdates();
    [[nodiscard]] static bool setCheckUpdates(bool on);
    static bool blurBackground();
    [[nodiscard]] static bool setBlurBackground(bool on);
    static QByteArray windowGeometry(); // empty when never stored
    [[nodiscard]] static bool setWindowGeometry(const QByteArray &geometry);

    // The registry. A name read back passes the check a typed one passes; one that fails is
    // skipped with a warning, so that it never becomes a group or a path.
    static int count(); // "dbCount"
    static QStringList names();
    static bool exists(const QString &name);
    static QString current();
    // An empty name stores that no account is current.
    [[nodiscard]] static bool setCurrent(const QString &name);

    // One account's keys.
    static QString type(const QString &name); // as stored; empty when missing
    static bool isNetwork(const QString &name);
    static bool usePassword(const QString &name);
    static QByteArray passwordDigest(const QString &name);
    static bool checkPassword(const QString &name, const QString &clear);
    static QString host(const QString &name);
    static int port(const QString &name);
    static QByteArray serverPasswordDigest(const QString &name);
    // The digest read back as text, as every request carries it.
    static QString serverPasswordText(const QString &name);
    static quint64 localRevision(const QString &name);
    [[nodiscard]] static bool setLocalRevision(const QString &name, quint64 revision);

    // Adds the account to the registry, makes it current and writes its group, all in one
    // write: either all of it is stored or none of it.
    [[nodiscard]] static bool create(const NewAccount &account);
    // Takes the first entry of the name off the registry and removes its group; the first
    // account left becomes current (none when none is left). One write, as create().
    [[nodiscard]] static bool remove(const QString &name);

    // What the settings page writes. A password left unset keeps the stored digest.
    struct Options
    {
        bool checkUpdates = true;
        bool blurBackground = true;
        bool usePassword = false;
        std::optional<QString> password;
        // Written for a network account only.
        QString host;
        int port = DefaultPort;
        std::optional<QString> serverPassword;
    };
    // The program-wide options, and those of the named account unless the name is empty; all
    // in one write.
    [[nodiscard]] static bool setOptions(const QString &name, const Options &options);

    static QString databaseDirectory(); // home + "/.pelicard/databases"
    // Empty for a name that nameProblem() refuses.
    static QString databasePath(const QString &name);
};
