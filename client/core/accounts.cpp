#include "accounts.h"

#include "passwords.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QVariant>

const QString Accounts::Organisation = QStringLiteral("brisvane");
const QString Accounts::Application = QStringLiteral("Pelicard");
const QString Accounts::LocalType = QStringLiteral("local");
const QString Accounts::NetworkType = QStringLiteral("network");
const QString Accounts::DefaultHost = QStringLiteral("127.0.0.1");

namespace {

const QString ProgramGroup = QStringLiteral("Pelicard");
const QString WindowGroup = QStringLiteral("mainWindow");
const QString RegistryGroup = QStringLiteral("database");

const QString UpdatesKey = QStringLiteral("updates");
const QString BlurKey = QStringLiteral("blurBackground");
const QString GeometryKey = QStringLiteral("geometry");
const QString CountKey = QStringLiteral("dbCount");
const QString NamesKey = QStringLiteral("databases");
const QString CurrentKey = QStringLiteral("currentDatabase");
const QString TypeKey = QStringLiteral("type");
const QString UsePassKey = QStringLiteral("usePass");
const QString PassKey = QStringLiteral("pass");
const QString HostKey = QStringLiteral("host");
const QString PortKey = QStringLiteral("port");
const QString ServerPassKey = QStringLiteral("serverPass");
const QString RevisionKey = QStringLiteral("localRevision");

// Longest file name most file systems take, in bytes.
constexpr int MaxFileNameBytes = 255;
const QString DatabaseSuffix = QStringLiteral(".sqlite");

// One fresh store per operation, positioned in one group.
class Store
{
public:
    explicit Store(const QString &group) : m_settings(Accounts::Organisation, Accounts::Application)
    {
        m_settings.beginGroup(group);
    }
    ~Store() { m_settings.endGroup(); }
    QSettings *operator->() { return &m_settings; }

private:
    QSettings m_settings;
};

QVariant read(const QString &group, const QString &key, const QVariant &fallback = QVariant())
{
    return Store(group)->value(key, fallback);
}

void write(const QString &group, const QString &key, const QVariant &value)
{
    Store(group)->setValue(key, value);
}

} // namespace

Accounts::NameProblem Accounts::nameProblem(const QString &name)
{
    if (name.trimmed().isEmpty())
        return NameProblem::Empty;
    // The store reads both as group separators, the file system "/" as a directory.
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return NameProblem::Separator;
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return NameProblem::DotName;
    // An account group of one of these names would mix with (and on deletion remove) the
    // program's own keys.
    for (const QString &own : {ProgramGroup, WindowGroup, RegistryGroup})
        if (name.compare(own, Qt::CaseInsensitive) == 0)
            return NameProblem::Reserved;
    if (QFile::encodeName(name + DatabaseSuffix).size() > MaxFileNameBytes)
        return NameProblem::TooLong;
    return NameProblem::None;
}

bool Accounts::checkUpdates()
{
    return read(ProgramGroup, UpdatesKey, true).toBool();
}

void Accounts::setCheckUpdates(bool on)
{
    write(ProgramGroup, UpdatesKey, on);
}

bool Accounts::blurBackground()
{
    return read(ProgramGroup, BlurKey, true).toBool();
}

void Accounts::setBlurBackground(bool on)
{
    write(ProgramGroup, BlurKey, on);
}

QByteArray Accounts::windowGeometry()
{
    return read(WindowGroup, GeometryKey).toByteArray();
}

void Accounts::setWindowGeometry(const QByteArray &geometry)
{
    write(WindowGroup, GeometryKey, geometry);
}

int Accounts::count()
{
    return read(RegistryGroup, CountKey, 0).toInt();
}

QStringList Accounts::names()
{
    return read(RegistryGroup, NamesKey).toStringList();
}

bool Accounts::exists(const QString &name)
{
    return names().contains(name);
}

QString Accounts::current()
{
    return read(RegistryGroup, CurrentKey).toString();
}

void Accounts::setCurrent(const QString &name)
{
    write(RegistryGroup, CurrentKey, name);
}

QString Accounts::type(const QString &name)
{
    return read(name, TypeKey).toString();
}

bool Accounts::isNetwork(const QString &name)
{
    return type(name) == NetworkType;
}

bool Accounts::usePassword(const QString &name)
{
    return read(name, UsePassKey, false).toBool();
}

QByteArray Accounts::passwordDigest(const QString &name)
{
    return read(name, PassKey).toByteArray();
}

bool Accounts::checkPassword(const QString &name, const QString &clear)
{
    return passwordDigest(name).toHex() == Passwords::md5Digest(clear).toHex();
}

QString Accounts::host(const QString &name)
{
    return read(name, HostKey, DefaultHost).toString();
}

int Accounts::port(const QString &name)
{
    return read(name, PortKey, DefaultPort).toInt();
}

QByteArray Accounts::serverPasswordDigest(const QString &name)
{
    return read(name, ServerPassKey).toByteArray();
}

QString Accounts::serverPasswordText(const QString &name)
{
    return Passwords::fieldText(read(name, ServerPassKey));
}

quint64 Accounts::localRevision(const QString &name)
{
    return read(name, RevisionKey, 0).toULongLong();
}

void Accounts::setLocalRevision(const QString &name, quint64 revision)
{
    write(name, RevisionKey, QVariant::fromValue(revision));
}

void Accounts::create(const NewAccount &account)
{
    {
        Store registry(RegistryGroup);
        const int count = registry->value(CountKey, 0).toInt();
        QStringList names = registry->value(NamesKey).toStringList();
        names.append(account.name);
        registry->setValue(CountKey, count + 1);
        registry->setValue(NamesKey, names);
        registry->setValue(CurrentKey, account.name);
    }
    Store group(account.name);
    group->setValue(TypeKey, account.network ? NetworkType : LocalType);
    group->setValue(UsePassKey, account.usePassword);
    if (account.usePassword)
        group->setValue(PassKey, Passwords::md5Digest(account.password));
    if (!account.network)
        return;
    group->setValue(HostKey, account.host);
    group->setValue(PortKey, account.port);
    group->setValue(ServerPassKey, Passwords::sha1Digest(account.serverPassword));
    group->setValue(RevisionKey, QVariant::fromValue(quint64(0)));
}

QString Accounts::databaseDirectory()
{
    return QDir::homePath() + QStringLiteral("/.pelicard/databases");
}

QString Accounts::databasePath(const QString &name)
{
    return databaseDirectory() + QLatin1Char('/') + name + DatabaseSuffix;
}
