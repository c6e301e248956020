#include "accountsession.h"
#include "clienttest.h"
#include "framereader.h"
#include "networkrunner.h"
#include "protocol.h"
#include "testclient.h"
#include "timeouts.h"

#include <QLoggingCategory>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>

using namespace ClientTest;
using Protocol::RequestType;

namespace {

const QString NotCurrent = "warning|数据库不是最新的|数据库不是最新的! 请和服务器同步联系人信息";
const QString CannotConnect = "critical|连接错误|无法连接到服务器 "
                              "请确认服务器在运行并且您的电脑和服务器之间的网络是畅通的";

// A server on 127.0.0.1 that answers each request by its type: the revision it holds, the
// change as told by mode, a database in pieces 100 ms apart (or only half of it).
class ScriptedServer : public QObject
{
public:
    quint64 revision = 0;
    QString mode = "accept"; // accept, refuse, silent, close
    QByteArray database;
    int pieces = 1;
    bool cutOff = false;
    QList<qint16> requests;

    ScriptedServer() { m_server.listen(QHostAddress::LocalHost); }
    quint16 port() const { return m_server.serverPort(); }
    void start()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *socket = m_server.nextPendingConnection();
            auto *received = new QByteArray;
            connect(socket, &QObject::destroyed, [received] { delete received; });
            connect(socket, &QTcpSocket::readyRead, this, [=] {
                *received += socket->readAll();
                Protocol::Message request;
                if (Protocol::decodeMessage(*received, &request) == Protocol::FrameReader::Complete)
                    answer(socket, request.type);
            });
        });
    }
    void stop() { m_server.close(); }

private:
    void answer(QTcpSocket *socket, qint16 type)
    {
        requests << type;
        const auto reply = [](qint16 t, const QByteArray &payload) {
            return Protocol::encodeMessage(QStringLiteral("server"), t, payload);
        };
        QByteArray bytes;
        if (type == qint16(RequestType::Goodbye))
            return;
        if (type == qint16(RequestType::RevisionQuery)) {
            bytes = reply(type, Protocol::revisionText(revision));
        } else if (type == qint16(RequestType::DatabaseTransfer)) {
            bytes = reply(type, database);
            if (cutOff)
                bytes.truncate(bytes.size() / 2);
        } else if (type == qint16(RequestType::Hello) || mode == "accept") {
            bytes = reply(type, Protocol::pongPayload());
        } else if (mode == "refuse") {
            bytes = reply(qint16(RequestType::WrongPassword), Protocol::wrongPasswordPayload());
        } else if (mode == "close") {
            socket->disconnectFromHost();
            return;
        } else {
            return; // silent
        }
        send(socket, bytes, 0);
    }
    void send(QTcpSocket *socket, const QByteArray &bytes, int piece)
    {
        const qsizetype size = bytes.size() / pieces + 1;
        socket->write(bytes.mid(piece * size, size));
        if (piece + 1 < pieces)
            QTimer::singleShot(100, socket, [=] { send(socket, bytes, piece + 1); });
        else
            socket->disconnectFromHost();
    }

    QTcpServer m_server;
};

QStringList storedTexts(const QString &path)
{
    QStringList names = TestClient::viewFile(path).names;
    names.sort();
    return names;
}

} // namespace

class TestNetworkWindow : public QObject
{
    Q_OBJECT

    ScriptedDialogs m_dialogs;
    std::unique_ptr<ScriptedServer> m_server;
    QTemporaryDir m_dir;

    // A network account "n" of the scripted server holding "A 1", and its window once greeted.
    std::unique_ptr<MainWindow> openWindow()
    {
        resetStore();
        m_server = std::make_unique<ScriptedServer>();
        m_server->start();
        Accounts::NewAccount account;
        account.name = "n";
        account.network = true;
        account.port = m_server->port();
        account.serverPassword = "server";
        if (!Accounts::create(account))
            return nullptr;
        QDir().mkpath(Accounts::databaseDirectory());
        ContactStore::createDatabase(Accounts::databasePath("n"));
        withDatabase(Accounts::databasePath("n"), [](QSqlDatabase &db) {
            Contact c;
            c.name = "A";
            c.firstName = "1";
            c.normalise();
            ContactStore(db).insert(c);
        });
        auto w = std::make_unique<MainWindow>();
        if (!QTest::qWaitFor([&] { return !w->network()->isBusy(); }, 5000))
            return nullptr;
        m_dialogs.shown.clear();
        return w;
    }

    static bool idle(const MainWindow &w)
    {
        return QTest::qWaitFor([&] { return !w.network()->isBusy(); }, 5000);
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules("pelicard.*=false");
        Timeouts::setForTesting(3000, 500, 500);
        QVERIFY(TestClient::fillDatabase(m_dir.filePath("server.sqlite"), 600 * 1024));
    }

    // Each row takes one change through the window; the server answers as told. Expected: the
    // boxes, the last status, the list and the file, and whether the form still edits.
    void changes_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<quint64>("revision");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<bool>("editing");
        const QStringList old{"A 1"};
        auto row = [](const char *name, const char *action, quint64 revision, const char *mode,
                      const QStringList &boxes, const char *status, const QStringList &listed,
                      bool editing) {
            QTest::newRow(name) << QString(action) << revision << QString(mode) << boxes
                                << QString(status) << listed << editing;
        };
        row("add accepted", "add", 0, "accept", {}, "联系人新建完成!", {"A 1", "B 3"}, false);
        row("edit accepted", "edit", 0, "accept", {}, "联系人信息修改完成!", {"A 2"}, false);
        row("delete accepted", "delete", 0, "accept", {}, "联系人删除成功!", {}, false);
        row("edit, not current", "edit", 4, "accept", {NotCurrent}, "正在向服务器发送版本请求...",
            old, false);
        row("edit refused", "edit", 0, "refuse", {"critical|出错|密码错误!"}, "出错!", old, true);
        row("delete refused", "delete", 0, "refuse", {"critical|错误|密码错误!"}, "出错!", old,
            false);
        row("edit, no reply", "edit", 0, "silent", {}, "服务器没有及时应答, 未作任何修改!", old,
            true);
        row("delete, closed", "delete", 0, "close", {}, "服务器关闭了连接, 没有应答, 未作任何修改!",
            old, false);
        row("edit, no server", "edit", 0, "stop", {CannotConnect}, "连接错误", old, false);
    }

    void changes()
    {
        QFETCH(QString, action);
        QFETCH(quint64, revision);
        QFETCH(QString, mode);
        QFETCH(QStringList, boxes);
        QFETCH(QString, status);
        QFETCH(QStringList, listed);
        QFETCH(bool, editing);
        const std::unique_ptr<MainWindow> w = openWindow();
        QVERIFY(w);
        m_server->revision = revision;
        m_server->mode = mode;
        if (mode == "stop")
            m_server->stop();
        selectRow(list(*w), 0);
        emit form(*w)->updateActionsSignal();
        m_dialogs.answers = {QMessageBox::Yes};
        find(w.get(), action == "add" ? "newContactAction" : action + "ContactAction")->trigger();
        QVERIFY(idle(*w));
        if (form(*w)->isEditable()) {
            edit(*w, "nameEdit")->setText(action == "add" ? "B" : "A");
            edit(*w, "firstNameEdit")->setText(action == "add" ? "3" : "2");
            click(w.get(), "saveEditButton");
            QVERIFY(idle(*w));
        }
        if (action == "delete")
            boxes.prepend("question|删除联系人|您真的要删除联系人: A 1");
        QCOMPARE(ClientTest::boxes(m_dialogs), boxes);
        QCOMPARE(w->statusBar()->currentMessage(), status);
        QCOMPARE(listTexts(list(*w)), listed);
        QCOMPARE(storedTexts(Accounts::databasePath("n")), listed);
        QCOMPARE(w->localRevision(), quint64(listed == QStringList{"A 1"} ? 0 : 1));
        QCOMPARE(form(*w)->isEditable(), editing);
        if (editing)
            QCOMPARE(edit(*w, "firstNameEdit")->text(), "2");
    }

    // A slow transfer: the window keeps running its timers; a cut-off one changes nothing.
    void synchronising_data()
    {
        QTest::addColumn<quint64>("revision");
        QTest::addColumn<bool>("cutOff");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QString>("status");
        QTest::newRow("received") << quint64(3) << false << QStringList() << "数据库同步完成!";
        QTest::newRow("cut off") << quint64(3) << true << QStringList()
                                 << "服务器的应答不完整, 未作任何修改!";
        QTest::newRow("current") << quint64(0) << false << QStringList() << "数据库已经更新到最新!";
    }

    void synchronising()
    {
        QFETCH(quint64, revision);
        QFETCH(bool, cutOff);
        QFETCH(QStringList, boxes);
        QFETCH(QString, status);
        const std::unique_ptr<MainWindow> w = openWindow();
        QVERIFY(w);
        m_server->revision = revision;
        m_server->cutOff = cutOff;
        m_server->pieces = 8;
        m_server->database = TestClient::fileBytes(m_dir.filePath("server.sqlite"));
        int ticks = 0;
        int maximum = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] {
            ++ticks;
            if (QProgressDialog *progress = w->network()->progressDialog())
                maximum = qMax(maximum, progress->maximum());
        });
        ticker.start(20);
        find(w.get(), "syncAction")->trigger();
        QVERIFY(!find(w.get(), "syncAction")->isEnabled());
        QVERIFY(idle(*w));
        QCOMPARE(ClientTest::boxes(m_dialogs), boxes);
        QCOMPARE(w->statusBar()->currentMessage(), status);
        const bool replaced = revision != 0 && !cutOff;
        const QStringList expected =
            replaced ? storedTexts(m_dir.filePath("server.sqlite")) : QStringList{"A 1"};
        QCOMPARE(storedTexts(Accounts::databasePath("n")), expected);
        QCOMPARE(list(*w)->count(), expected.size());
        QCOMPARE(w->localRevision(), replaced ? revision : 0);
        QVERIFY(find(w.get(), "syncAction")->isEnabled());
        if (revision != 0) {
            // Eight pieces 100 ms apart: the loop ran all along, and the size was announced.
            QVERIFY2(ticks >= 20, qPrintable(QString::number(ticks)));
            QCOMPARE(maximum, int(m_server->database.size() / 1024));
        }
    }
};

PELICARD_TEST_MAIN(TestNetworkWindow)
#include "tst_networkwindow.moc"
