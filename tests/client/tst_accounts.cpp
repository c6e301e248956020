#include "accounts.h"
#include "clienttest.h"
#include "passwords.h"
#include "testhome.h"

#include <QSettings>
#include <QTest>

using namespace ClientTest;

Q_DECLARE_METATYPE(Accounts::NameProblem)

class TestAccounts : public QObject
{
    Q_OBJECT
private slots:
    void init() { resetStore(); }

    void emptyStoreGivesTheDefaults()
    {
        QCOMPARE(Accounts::count(), 0);
        QVERIFY(Accounts::names().isEmpty());
        QCOMPARE(Accounts::current(), QString());
        QVERIFY(Accounts::checkUpdates());
        QVERIFY(Accounts::blurBackground());
        QVERIFY(Accounts::windowGeometry().isEmpty());
        QCOMPARE(Accounts::type(QStringLiteral("x")), QString());
        QVERIFY(!Accounts::isNetwork(QStringLiteral("x")));
        QVERIFY(!Accounts::usePassword(QStringLiteral("x")));
        QCOMPARE(Accounts::host(QStringLiteral("x")), QStringLiteral("127.0.0.1"));
        QCOMPARE(Accounts::port(QStringLiteral("x")), 1639);
        QCOMPARE(Accounts::localRevision(QStringLiteral("x")), quint64(0));
        QVERIFY(Accounts::serverPasswordText(QStringLiteral("x")).isEmpty());
    }

    void programOptionsUseTheirOwnGroups()
    {
        Accounts::setCheckUpdates(false);
        Accounts::setBlurBackground(false);
        Accounts::setWindowGeometry(QByteArray("\x01\x00\x02", 3));
        QSettings store = rawStore();
        QCOMPARE(store.value(QStringLiteral("Pelicard/updates")).toBool(), false);
        QCOMPARE(store.value(QStringLiteral("Pelicard/blurBackground")).toBool(), false);
        QCOMPARE(store.value(QStringLiteral("mainWindow/geometry")).toByteArray(),
                 QByteArray("\x01\x00\x02", 3));
        QVERIFY(!Accounts::checkUpdates());
        QVERIFY(!Accounts::blurBackground());
    }

    void databasePathLiesUnderHome()
    {
        QCOMPARE(Accounts::databasePath(QStringLiteral("办公室")),
                 QDir::homePath() + QStringLiteral("/.pelicard/databases/办公室.sqlite"));
    }

    void passwordIsKeptAsTheDigestOfItsEightBitBytes()
    {
        Accounts::NewAccount account;
        account.name = QStringLiteral("家");
        account.usePassword = true;
        account.password = QStringLiteral("密码");
        Accounts::create(account);
        const QVariant pass = rawStore().value(QStringLiteral("家/pass"));
        QCOMPARE(pass.typeId(), QMetaType::QByteArray);
        // MD5 of the GB2312 bytes c3 dc c2 eb.
        QCOMPARE(pass.toByteArray().toHex(), QByteArray("d2293e30f0c964c5f6242486aa8a483c"));
        QVERIFY(Accounts::usePassword(QStringLiteral("家")));
        QVERIFY(Accounts::checkPassword(QStringLiteral("家"), QStringLiteral("密码")));
        QVERIFY(!Accounts::checkPassword(QStringLiteral("家"), QStringLiteral("密")));
    }

    void accountsAppendInCreationOrder()
    {
        for (const QString &name :
             {QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("c")}) {
            Accounts::NewAccount account;
            account.name = name;
            Accounts::create(account);
        }
        QCOMPARE(Accounts::count(), 3);
        QCOMPARE(Accounts::names(), (QStringList{"b", "a", "c"}));
        QCOMPARE(Accounts::current(), QStringLiteral("c"));
        QVERIFY(Accounts::exists(QStringLiteral("a")));
        QVERIFY(!Accounts::exists(QStringLiteral("A")));
    }

    void unusualNamesKeepTheirGroups_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("spaces") << QStringLiteral(" a b ");
        QTest::newRow("ini syntax") << QStringLiteral("[x]=y;z,w#");
        QTest::newRow("chinese") << QStringLiteral("办公室");
        QTest::newRow("percent") << QStringLiteral("%U529E");
        QTest::newRow("ampersand") << QStringLiteral("A&B");
    }

    void unusualNamesKeepTheirGroups()
    {
        QFETCH(QString, name);
        QCOMPARE(Accounts::nameProblem(name), Accounts::NameProblem::None);
        Accounts::NewAccount account;
        account.name = name;
        account.network = true;
        Accounts::create(account);
        QCOMPARE(Accounts::names(), QStringList{name});
        QCOMPARE(Accounts::current(), name);
        QVERIFY(Accounts::isNetwork(name));
    }

    void nameProblems_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<Accounts::NameProblem>("problem");
        using P = Accounts::NameProblem;
        QTest::newRow("empty") << QString() << P::Empty;
        QTest::newRow("blanks") << QStringLiteral(" \t ") << P::Empty;
        QTest::newRow("ideographic space") << QStringLiteral("\u3000") << P::Empty;
        QTest::newRow("slash") << QStringLiteral("a/b") << P::Separator;
        QTest::newRow("backslash") << QStringLiteral("a\\b") << P::Separator;
        QTest::newRow("dot") << QStringLiteral(".") << P::DotName;
        QTest::newRow("dot dot") << QStringLiteral("..") << P::DotName;
        QTest::newRow("three dots") << QStringLiteral("...") << P::None;
        QTest::newRow("registry group") << QStringLiteral("database") << P::Reserved;
        QTest::newRow("window group") << QStringLiteral("MainWindow") << P::Reserved;
        QTest::newRow("program group") << QStringLiteral("pelicard") << P::Reserved;
        QTest::newRow("too long") << QString(249, QLatin1Char('x')) << P::TooLong;
        QTest::newRow("longest") << QString(248, QLatin1Char('x')) << P::None;
        QTest::newRow("long in bytes") << QString(83, QChar(0x529E)) << P::TooLong;
        QTest::newRow("ordinary") << QStringLiteral("工作 2") << P::None;
    }

    void nameProblems()
    {
        QFETCH(QString, name);
        QFETCH(Accounts::NameProblem, problem);
        QCOMPARE(Accounts::nameProblem(name), problem);
    }

    void localRevisionKeepsSixtyFourBits()
    {
        const quint64 big = (quint64(1) << 63) + 5;
        Accounts::setLocalRevision(QStringLiteral("n"), big);
        QCOMPARE(Accounts::localRevision(QStringLiteral("n")), big);
    }

    void networkKeysReadBack()
    {
        Accounts::NewAccount account;
        account.name = QStringLiteral("n");
        account.network = true;
        account.serverPassword = QStringLiteral("server-pw");
        account.host = QStringLiteral("10.1.2.3");
        account.port = 4000;
        Accounts::create(account);
        QCOMPARE(Accounts::host(QStringLiteral("n")), QStringLiteral("10.1.2.3"));
        QCOMPARE(Accounts::port(QStringLiteral("n")), 4000);
        const QByteArray digest = Accounts::serverPasswordDigest(QStringLiteral("n"));
        QCOMPARE(digest.toHex(), QByteArray("1ecd0be6283e860a30bb4b2f219f9dc37ab558f2"));
        QCOMPARE(Accounts::serverPasswordText(QStringLiteral("n")),
                 Passwords::fieldText(QVariant(digest)));
    }
};

PELICARD_TEST_GUILESS_MAIN(TestAccounts)
#include "tst_accounts.moc"
