#include "clienttest.h"
#include "networkrunner.h"
#include "serverhome.h"

#include <QLoggingCategory>
#include <QStatusBar>

using namespace ClientTest;
using Protocol::RequestType;

namespace {

// "id name firstName" of every row of a database file.
QStringList rows(const QString &path)
{
    QStringList all;
    withDatabase(path, [&](QSqlDatabase &db) {
        for (const Contact &c : ContactStore(db).all())
            all << QString::number(c.id) + ' ' + c.displayText();
    });
    return all;
}

// A network account of the server at that port, with an empty file.
bool networkAccount(const QString &name, quint16 port, const QString &password = Password)
{
    Accounts::NewAccount account;
    account.name = name;
    account.network = true;
    account.port = port;
    account.serverPassword = password;
    return Accounts::create(account) && QDir().mkpath(Accounts::databaseDirectory()) &&
           ContactStore::createDatabase(Accounts::databasePath(name));
}

bool idle(const MainWindow &w)
{
    return QTest::qWaitFor([&] { return !w.network()->isBusy(); }, 20000);
}

} // namespace

// The client's window, in this process, against the real server.
class TestE2eNetwork : public QObject
{
    Q_OBJECT

    ScriptedDialogs m_dialogs;

    // Types the contact into the form of an add or edit action and saves it.
    static bool save(MainWindow &w, const char *action, const QString &name,
                     const QString &firstName)
    {
        find(&w, action)->trigger();
        if (!idle(w) || !form(w)->isEditable())
            return false;
        edit(w, "nameEdit")->setText(name);
        edit(w, "firstNameEdit")->setText(firstName);
        click(&w, "saveEditButton");
        return idle(w);
    }

private slots:
    void init()
    {
        resetStore();
        m_dialogs.shown.clear();
        m_dialogs.answers.clear();
        QLoggingCategory::setFilterRules("pelicard.*=false");
    }

    void changesReachBothFiles()
    {
        ServerHome home;
        QProcess server;
        QVERIFY(home.launch(server));
        QVERIFY(networkAccount("n", home.port));
        const QString serverFile = home.dataPath() + "/server.sqlite";
        const QString localFile = Accounts::databasePath("n");
        {
            MainWindow w;
            QVERIFY(idle(w));
            QCOMPARE(w.statusBar()->currentMessage(), "服务器在线!");
            QVERIFY(save(w, "newContactAction", "欧阳", "修"));
            QVERIFY(save(w, "newContactAction", "王", "五"));
            selectRow(list(w), 0);
            emit form(w)->updateActionsSignal();
            QVERIFY(save(w, "editContactAction", "欧阳", "修 文"));
            selectRow(list(w), listTexts(list(w)).indexOf("王 五"));
            emit form(w)->updateActionsSignal();
            m_dialogs.answers = {QMessageBox::Yes};
            find(&w, "deleteContactAction")->trigger();
            QVERIFY(idle(w));
            QCOMPARE(w.statusBar()->currentMessage(), "联系人删除成功!");
            QCOMPARE(rows(localFile), QStringList{"1 欧阳 修 文"});
            QCOMPARE(rows(serverFile), rows(localFile));
            QCOMPARE(w.localRevision(), quint64(4));
            QCOMPARE(home.ask(RequestType::RevisionQuery).message.payload, QByteArray("4"));
            w.sendGoodbye();
            QCOMPARE(w.statusBar()->currentMessage(), "连接关闭!");
        }
        QCOMPARE(boxes(m_dialogs), QStringList{"question|删除联系人|您真的要删除联系人: 王 五"});
        QVERIFY(ServerHome::terminate(server));
    }

    // A copy behind the server's or ahead of it (the server's database was reset) is refused
    // every change until it is synchronised, and then holds exactly the server's rows.
    void synchronising_data()
    {
        QTest::addColumn<quint64>("local");
        QTest::newRow("behind") << quint64(0);
        QTest::newRow("ahead") << quint64(9);
    }

    void synchronising()
    {
        QFETCH(quint64, local);
        ServerHome home;
        QProcess server;
        QVERIFY(home.launch(server));
        for (const char *name : {"甲", "乙"})
            QVERIFY(home.ask(RequestType::AddContact, TestClient::contact(name, "一"))
                        .message.is(RequestType::AddContact));
        QVERIFY(networkAccount("n", home.port));
        QVERIFY(Accounts::setLocalRevision("n", local));
        MainWindow w;
        QVERIFY(idle(w));
        find(&w, "newContactAction")->trigger();
        QVERIFY(idle(w));
        QVERIFY(!form(w)->isEditable());
        find(&w, "syncAction")->trigger();
        QVERIFY(idle(w));
        QCOMPARE(boxes(m_dialogs), QStringList{"warning|数据库不是最新的|数据库不是最新的! "
                                               "请和服务器同步联系人信息"});
        QCOMPARE(w.statusBar()->currentMessage(), "数据库同步完成!");
        QCOMPARE(rows(Accounts::databasePath("n")), rows(home.dataPath() + "/server.sqlite"));
        QCOMPARE(listTexts(list(w)), (QStringList{"乙 一", "甲 一"}));
        QCOMPARE(w.localRevision(), quint64(2));
        QCOMPARE(Accounts::localRevision("n"), quint64(2));
        QVERIFY(save(w, "newContactAction", "丙", "一"));
        QCOMPARE(w.statusBar()->currentMessage(), "联系人新建完成!");
        QVERIFY(ServerHome::terminate(server));
    }

    void greetingFails_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("box");
        QTest::newRow("wrong password") << true << "别的"
                                        << "critical|出错|密码错误!";
        QTest::newRow("no server") << false << Password
                                   << "critical|连接错误|无法连接到服务器 请确认服务器在运行并且"
                                      "您的电脑和服务器之间的网络是畅通的";
    }

    void greetingFails()
    {
        QFETCH(bool, running);
        QFETCH(QString, password);
        QFETCH(QString, box);
        ServerHome home;
        QProcess server;
        if (running)
            QVERIFY(home.launch(server));
        QVERIFY(networkAccount("n", home.port, password));
        MainWindow w;
        QVERIFY(idle(w));
        QCOMPARE(boxes(m_dialogs), QStringList{box});
        find(&w, "syncAction")->trigger();
        QVERIFY(idle(w));
        QCOMPARE(boxes(m_dialogs), (QStringList{box, box}));
        QCOMPARE(w.localRevision(), quint64(0));
        if (running)
            QVERIFY(ServerHome::terminate(server));
    }
};

PELICARD_TEST_MAIN(TestE2eNetwork)
#include "tst_e2e_network.moc"
