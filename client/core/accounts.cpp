#include "accounts.h"

#include "logging.h"
#include "passwords.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryFile>
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
// The longest name SQLite gives a file beside the database (the others are -wal and -shm).
const QString LongestSideSuffix = QStringLiteral("-journal");

QString &lastError()
{
    static QString error;
    return error;
}

bool fail(const QString &error)
{
    lastError() = error;
    return false;
}

QString text(const char *source)
{
    return QCoreApplication::translate("Accounts", source);
}

const QString &storePath()
{
    // Asking opens a store; once is safe, later the file may be unreadable (see canOpen()).
    static const QString path = QSettings(Accounts::Organisation, Accounts::Application).fileName();
    return path;
}

// A store opened on a file that cannot be read makes the toolkit drop what it had read, and
// it does not read the file again when it is back with the same size: this process would see
// no accounts, and its next write would leave only its own values in the file. So such a
// file is never opened.
bool canOpen()
{
    const QFileInfo info(storePath());
    return !info.exists() || (info.isFile() && info.isReadable());
}

struct Value
{
    QString group;
    QString key;
    QVariant value;
};

// Writes all values in one go: either all of them reach the file or none does. A value that
// cannot be written must not stay pending either: the store would hand it to every later
// reader in this process as if it were in the file, and write it with the next change that
// succeeds.
bool write(const QList<Value> &values)
{
    // A store that cannot be read would be written back with only these values in it.
    if (const QString error = Accounts::readError(); !error.isEmpty())
        return fail(error);
    QSettings settings(Accounts::Organisation, Accounts::Application);
    const QString unwritable =
        text("无法写入设置文件 %1!").arg(QDir::toNativeSeparators(settings.fileName()));
    if (!settings.isWritable())
        return fail(unwritable);
    QList<std::pair<QString, QVariant>> old;
    for (const Value &v : values) {
        const QString key = v.group + QLatin1Char('/') + v.key;
        old.append({key, settings.value(key)});
        // An invalid value removes the key.
        if (v.value.isValid())
            settings.setValue(key, v.value);
        else
            settings.remove(key);
    }
    settings.sync();
    if (settings.status() == QSettings::NoError)
        return true;
    qCWarning(lcDb) << "cannot write to" << settings.fileName();
    // Backwards, so that a key written twice gets its first value.
    for (auto it = old.crbegin(); it != old.crend(); ++it) {
        if (it->second.isValid())
            settings.setValue(it->first, it->second);
        else
            settings.remove(it->first);
    }
    return fail(unwritable);
}

bool write(const QString &group, const QString &key, const QVariant &value)
{
    return write({{group, key, value}});
}

bool refuseName(const QString &name)
{
    return fail(text("无效的帐户名: %1").arg(name));
}

// A name read back from the store is used only when a typed one would be.
bool isUsable(const QString &name, const char *what)
{
    if (Accounts::nameProblem(name) == Accounts::NameProblem::None)
        return true;
    qCWarning(lcDb).noquote() << "account name" << name << "in" << what << "of" << storePath()
                              << "skipped: it cannot name a group and a file";
    return false;
}

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
    return canOpen() ? Store(group)->value(key, fallback) : fallback;
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
    // program's own keys. "General" is the store's section for keys outside any group: a group
    // of that name in any letter case is written so that it reads back as "General", and its
    // keys are lost.
    for (const QString &own : {ProgramGroup, WindowGroup, RegistryGroup, QStringLiteral("General")})
        if (name.compare(own, Qt::CaseInsensitive) == 0)
            return NameProblem::Reserved;
    if ((name + DatabaseSuffix + LongestSideSuffix).toUtf8().size() > MaxFileNameBytes)
        return NameProblem::TooLong;
    return NameProblem::None;
}

QString Accounts::errorString()
{
    return lastError();
}

QString Accounts::readError()
{
    const QString &path = storePath();
    if (!QFileInfo::exists(path))
        return QString();
    const QString shown = QDir::toNativeSeparators(path);
    QFile file(path);
    if (!canOpen() || !file.open(QIODevice::ReadOnly))
        return text("无法读取设置文件 %1: 没有权限或不是文件").arg(shown);
    // The toolkit parses a store once per process and tells a format error only to the first
    // reader; a copy of its own is parsed afresh.
    QTemporaryFile copy;
    const QByteArray content = file.readAll();
    QString parsed = path;
    if (copy.open() && copy.write(content) == content.size() && copy.flush())
        parsed = copy.fileName();
    else
        qCWarning(lcDb) << "cannot copy" << path << "to check it; checking it in place";
    QSettings settings(parsed, QSettings::IniFormat);
    settings.allKeys(); // sections are parsed when first read
    if (file.error() != QFileDevice::NoError || settings.status() != QSettings::NoError)
        return text("无法读取设置文件 %1: 格式错误").arg(shown);
    return QString();
}

bool Accounts::setAsideUnreadableStore(QString *aside)
{
    aside->clear();
    const QString path = storePath();
    if (readError().isEmpty())
        return true;
    const QString target =
        path + QStringLiteral(".unreadable-") +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    // Moved, not copied: a folder or a file nobody may read cannot be copied.
    if (!QFile::rename(path, target))
        return fail(text("无法将设置文件 %1 移至 %2")
                        .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(target)));
    qCWarning(lcDb) << "unreadable settings" << path << "moved to" << target;
    *aside = target;
    return true;
}

bool Accounts::checkUpdates()
{
    return read(ProgramGroup, UpdatesKey, true).toBool();
}

bool Accounts::setCheckUpdates(bool on)
{
    return write(ProgramGroup, UpdatesKey, on);
}

bool Accounts::blurBackground()
{
    return read(ProgramGroup, BlurKey, true).toBool();
}

bool Accounts::setBlurBackground(bool on)
{
    return write(ProgramGroup, BlurKey, on);
}

QByteArray Accounts::windowGeometry()
{
    return read(WindowGroup, GeometryKey).toByteArray();
}

bool Accounts::setWindowGeometry(const QByteArray &geometry)
{
    return write(WindowGroup, GeometryKey, geometry);
}

int Accounts::count()
{
    return read(RegistryGroup, CountKey, 0).toInt();
}

QStringList Accounts::names()
{
    QStringList names = read(RegistryGroup, NamesKey).toStringList();
    names.removeIf([](const QString &name) { return !isUsable(name, "the account list"); });
    return names;
}

bool Accounts::exists(const QString &name)
{
    return names().contains(name);
}

QString Accounts::current()
{
    const QString name = read(RegistryGroup, CurrentKey).toString();
    return name.isEmpty() || isUsable(name, "the current account") ? name : QString();
}

bool Accounts::setCurrent(const QString &name)
{
    if (!name.isEmpty() && nameProblem(name) != NameProblem::None)
        return refuseName(name);
    return write(RegistryGroup, CurrentKey, name);
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

bool Accounts::setLocalRevision(const QString &name, quint64 revision)
{
    if (nameProblem(name) != NameProblem::None)
        return refuseName(name);
    return write(name, RevisionKey, QVariant::fromValue(revision));
}

bool Accounts::create(const NewAccount &account)
{
    const QString &name = account.name;
    if (nameProblem(name) != NameProblem::None)
        return refuseName(name);
    // The stored list as it is: names this version skips stay for the user to see.
    QStringList names = read(RegistryGroup, NamesKey).toStringList();
    names.append(name);
    QList<Value> values{{RegistryGroup, CountKey, count() + 1},
                        {RegistryGroup, NamesKey, names},
                        {RegistryGroup, CurrentKey, name},
                        {name, TypeKey, account.network ? NetworkType : LocalType},
                        {name, UsePassKey, account.usePassword}};
    if (account.usePassword)
        values.append({name, PassKey, Passwords::md5Digest(account.password)});
    if (account.network) {
        values.append({name, HostKey, account.host});
        values.append({name, PortKey, account.port});
        values.append({name, ServerPassKey, Passwords::sha1Digest(account.serverPassword)});
        values.append({name, RevisionKey, QVariant::fromValue(quint64(0))});
    }
    return write(values);
}

bool Accounts::remove(const QString &name)
{
    if (nameProblem(name) != NameProblem::None)
        return refuseName(name);
    QStringList names = read(RegistryGroup, NamesKey).toStringList();
    names.removeOne(name);
    // Never left naming the account just removed.
    QString next;
    for (const QString &left : std::as_const(names))
        if (isUsable(left, "the account list")) {
            next = left;
            break;
        }
    QList<Value> values{{RegistryGroup, CountKey, qMax(0, count() - 1)},
                        {RegistryGroup, NamesKey, names},
                        {RegistryGroup, CurrentKey, next}};
    if (canOpen())
        for (const QString &key : Store(name)->childKeys())
            values.append({name, key, QVariant()});
    return write(values);
}

bool Accounts::setOptions(const QString &name, const Options &options)
{
    QList<Value> values{{ProgramGroup, UpdatesKey, options.checkUpdates},
                        {ProgramGroup, BlurKey, options.blurBackground}};
    if (!name.isEmpty()) {
        if (nameProblem(name) != NameProblem::None)
            return refuseName(name);
        values.append({name, UsePassKey, options.usePassword});
        if (options.usePassword && options.password)
            values.append({name, PassKey, Passwords::md5Digest(*options.password)});
        if (isNetwork(name)) {
            values.append({name, HostKey, options.host});
            values.append({name, PortKey, options.port});
            if (options.serverPassword)
                values.append(
                    {name, ServerPassKey, Passwords::sha1Digest(*options.serverPassword)});
        }
    }
    return write(values);
}

QString Accounts::databaseDirectory()
{
    return QDir::homePath() + QStringLiteral("/.pelicard/databases");
}

QString Accounts::databasePath(const QString &name)
{
    if (nameProblem(name) != NameProblem::None)
        return QString();
    return databaseDirectory() + QLatin1Char('/') + name + DatabaseSuffix;
}
