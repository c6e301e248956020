#include "accountsession.h"
#include "clienttest.h"
#include "contactlistwidget.h"
#include "mainwidget.h"

#include <QFileInfo>
#include <QRegularExpression>

using namespace ClientTest;

class TestAddressWidget : public QObject
{
    Q_OBJECT

    ScriptedDialogs m_dialogs;

private slots:
    void init()
    {
        resetStore();
        m_dialogs.shown.clear();
        // Replacing a connection that is still registered or in use is a fault here.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("connection")));
    }

    void unusableFileIsReported_data()
    {
        QTest::addColumn<bool>("directory");
        QTest::addColumn<QString>("text");
        QTest::newRow("missing") << false << QStringLiteral("数据库不存在!");
        QTest::newRow("cannot open") << true << QStringLiteral("无法开启数据库!");
    }

    void unusableFileIsReported()
    {
        QFETCH(bool, directory);
        QFETCH(QString, text);
        addAccount(QStringLiteral("a"), {"A 1"});
        const QString path = Accounts::databasePath(QStringLiteral("a"));
        QVERIFY(QFile::remove(path));
        if (directory)
            QVERIFY(QDir().mkpath(path));
        AccountSession session;
        MainWidget page(&session);
        QCOMPARE(boxes(m_dialogs).value(0).section(u'\n', 0, 0), "critical|数据库出错|" + text);
        QCOMPARE(page.contactListWidget()->count(), 0);
        // SQLite would make an empty file in place of a missing one.
        QCOMPARE(QFileInfo::exists(path), directory);
    }

    void listIsSortedAndTheSelectionShown()
    {
        addAccount(QStringLiteral("a"), {"王 五", "Li Si Ming", "Zhang ", "Ba x"});
        AccountSession session;
        MainWidget page(&session);
        ContactListWidget *list = page.contactListWidget();
        QCOMPARE(listTexts(list), (QStringList{"Ba x", "Li Si Ming", "Zhang ", "王 五"}));
        selectRow(list, 1);
        QCOMPARE(find<QLineEdit>(&page, "nameEdit")->text(), QStringLiteral("Li"));
        QCOMPARE(find<QLineEdit>(&page, "firstNameEdit")->text(), QStringLiteral("Si Ming"));
    }
};

PELICARD_TEST_MAIN(TestAddressWidget)
#include "tst_addresswidget.moc"
