#include "accounts.h"
#include "clienttest.h"

using namespace ClientTest;

// What the wizard and window tests do not reach: checking a typed password against the stored
// digest, here of an account whose name is full of the store's own syntax.
class TestAccounts : public QObject
{
    Q_OBJECT
private slots:
    void init() { resetStore(); }

    void typedPasswordIsChecked()
    {
        // "%U529E" is how the store writes the group "办".
        const QString name = QStringLiteral(" [x]=%U529E;z,w# ");
        addAccount(name, {}, false, QStringLiteral("密码"));
        QCOMPARE(Accounts::names(), QStringList{name});
        QVERIFY(!Accounts::usePassword(QStringLiteral("办")));
        QVERIFY(Accounts::checkPassword(name, QStringLiteral("密码")));
        QVERIFY(!Accounts::checkPassword(name, QStringLiteral("密")));
    }
};

PELICARD_TEST_GUILESS_MAIN(TestAccounts)
#include "tst_accounts.moc"
