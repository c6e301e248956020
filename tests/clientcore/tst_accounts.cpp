#include "accounts.h"
#include "damagedfile.h"
#include "testhome.h"

#include <QRegularExpression>
#include <QSettings>
#include <functional>

using Write = std::function<bool()>;
Q_DECLARE_METATYPE(Write)

namespace {

QSettings rawStore()
{
    return QSettings(Accounts::Organisation, Accounts::Application);
}

QString storePath()
{
    return rawStore().fileName();
}

Accounts::NewAccount account(const QString &name, bool network = false)
{
    return {name, network, true, "pw", Accounts::DefaultHost, 4000, "server"};
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return QFileInfo(path).isDir()          ? "<folder>"
           : file.open(QIODevice::ReadOnly) ? file.readAll()
                                            : "";
}

} // namespace

class TestAccounts : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        rawStore().clear();
        QVERIFY(Accounts::create(account("first")));
    }

    void names_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("plain") << "工作" << true;
        QTest::newRow("store syntax") << " [x]=%U529E;z,w# " << true;
        QTest::newRow("240 bytes") << QString(80, QChar(0x529E)) << true;
        QTest::newRow("241 bytes") << QString(80, QChar(0x529E)) + "x" << false;
        QTest::newRow("248 bytes") << QString(248, 'x') << false;
        for (const char *name : {"general", "GENERAL", "General", "../../x", "a/b", ".", ".."})
            QTest::newRow(name) << QString(name) << false;
        QTest::newRow("empty") << QString() << false;
    }

    // Typed into the wizard, and read back from a store that holds it already.
    void names()
    {
        QFETCH(QString, name);
        QFETCH(bool, accepted);
        QCOMPARE(Accounts::nameProblem(name) == Accounts::NameProblem::None, accepted);
        QCOMPARE(Accounts::create(account(name)), accepted);
        QCOMPARE(Accounts::databasePath(name).isEmpty(), !accepted);
        if (accepted) {
            QFile file(storePath()); // a new size makes the store parse the file again
            QVERIFY(file.open(QIODevice::Append) && file.write("\n"));
            file.close();
            QVERIFY(rawStore().childGroups().contains(name)); // not another group's name
            QVERIFY(Accounts::usePassword(name) && Accounts::checkPassword(name, "pw"));
            QVERIFY(!Accounts::checkPassword(name, "p"));
        }
        rawStore().setValue("database/databases", QStringList{name, "first"});
        rawStore().setValue("database/currentDatabase", name);
        const QRegularExpression skipped("^account name .* skipped");
        if (!accepted)
            QTest::ignoreMessage(QtWarningMsg, skipped);
        QCOMPARE(Accounts::names(), accepted ? QStringList({name, "first"}) : QStringList{"first"});
        if (!accepted && !name.isEmpty()) // an empty one means that none is current
            QTest::ignoreMessage(QtWarningMsg, skipped);
        QCOMPARE(Accounts::current(), accepted ? name : QString());
    }

    void unwritableStoreKeepsNothing_data()
    {
        QTest::addColumn<Write>("write");
        QTest::addColumn<int>("damage");
        QTest::addColumn<QString>("error");
        const QList<std::pair<const char *, Write>> writes{
            {"create", [] { return Accounts::create(account("fresh")); }},
            {"create network", [] { return Accounts::create(account("fresh", true)); }},
            {"current", [] { return Accounts::setCurrent("second"); }},
            {"revision", [] { return Accounts::setLocalRevision("first", 77); }},
            {"updates", [] { return Accounts::setCheckUpdates(false); }},
            {"blur", [] { return Accounts::setBlurBackground(false); }},
            {"geometry", [] { return Accounts::setWindowGeometry("g"); }},
            {"remove", [] { return Accounts::remove("second"); }},
            {"options", [] {
                 Accounts::Options off;
                 off.usePassword = false;
                 return Accounts::setOptions("second", off);
             }}};
        for (const auto &[tag, write] : writes)
            QTest::newRow(tag) << write << int(DamagedFile::Unwritable)
                               << "无法写入设置文件 " + storePath() + "!";
        QTest::newRow("create, folder")
            << writes[0].second << int(DamagedFile::Directory)
            << "无法读取设置文件 " + storePath() + ": 没有权限或不是文件";
    }

    void unwritableStoreKeepsNothing()
    {
        QFETCH(Write, write);
        QFETCH(int, damage);
        QFETCH(QString, error);
        QVERIFY(Accounts::create(account("second")) && Accounts::setCurrent("first"));
        auto state = [] {
            return QStringList{Accounts::names().join(','),
                               QString::number(Accounts::count()),
                               Accounts::current(),
                               Accounts::type("fresh"),
                               QString::number(Accounts::localRevision("first")),
                               QString::number(Accounts::checkUpdates()),
                               QString::number(Accounts::blurBackground()),
                               QString::fromLatin1(Accounts::windowGeometry()),
                               QString::number(Accounts::usePassword("second"))};
        };
        const QByteArray before = contentOf(storePath());
        const QStringList stateBefore = state();
        {
            DamagedFile damaged(storePath(), DamagedFile::Kind(damage));
            QVERIFY(damaged.ok);
            QVERIFY(!write());
            QCOMPARE(Accounts::errorString(), error);
        }
        QCOMPARE(state(), stateBefore);
        QVERIFY(Accounts::setCurrent("first")); // writes whatever this process still holds
        QCOMPARE(contentOf(storePath()), before);
    }

    // Each row creates the accounts after "first", makes one current, removes one.
    void remove_data()
    {
        QTest::addColumn<QStringList>("created");
        QTest::addColumn<QString>("removed");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("the current one")
            << QStringList{"b", "c"} << "c" << QStringList{"first", "b"};
        QTest::newRow("the first one") << QStringList{"b"} << "first" << QStringList{"b"};
        QTest::newRow("the only one") << QStringList{} << "first" << QStringList{};
        QTest::newRow("listed twice")
            << QStringList{"b", "first"} << "first" << QStringList{"b", "first"};
    }

    void remove()
    {
        QFETCH(QStringList, created);
        QFETCH(QString, removed);
        QFETCH(QStringList, left);
        for (const QString &name : created)
            QVERIFY(Accounts::create(account(name)));
        QVERIFY(Accounts::remove(removed));
        QCOMPARE(Accounts::names(), left);
        QCOMPARE(Accounts::count(), left.size());
        // Never the one removed while another is left.
        QCOMPARE(Accounts::current(), left.value(0));
        QVERIFY(!Accounts::usePassword(removed) && Accounts::type(removed).isEmpty());
    }

    void unreadableStoreIsSetAside_data()
    {
        QTest::addColumn<int>("damage");
        QTest::addColumn<QString>("reason");
        QTest::newRow("folder") << int(DamagedFile::Directory) << "没有权限或不是文件";
        QTest::newRow("garbage") << int(DamagedFile::Garbage) << "格式错误";
    }

    void unreadableStoreIsSetAside()
    {
        QFETCH(int, damage);
        QFETCH(QString, reason);
        DamagedFile damaged(storePath(), DamagedFile::Kind(damage));
        QVERIFY(damaged.ok);
        const QByteArray unreadable = contentOf(storePath());
        Accounts::count(); // the toolkit tells a format error only to the first reader
        QCOMPARE(Accounts::readError(), "无法读取设置文件 " + storePath() + ": " + reason);
        QVERIFY(!Accounts::create(account("fresh")));
        QCOMPARE(contentOf(storePath()), unreadable);

        QString aside;
        QVERIFY(Accounts::setAsideUnreadableStore(&aside));
        QVERIFY2(aside.startsWith(storePath() + ".unreadable-"), qPrintable(aside));
        QCOMPARE(contentOf(aside), unreadable);
        QVERIFY(Accounts::readError().isEmpty() && Accounts::create(account("fresh")));
        QCOMPARE(Accounts::names(), QStringList{"fresh"});
        QDir(aside).removeRecursively();
        QFile::remove(aside);
    }
};

PELICARD_TEST_GUILESS_MAIN(TestAccounts)
#include "tst_accounts.moc"
