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

// A server on 127.0.0.1 that answers each request by its type: the revision it holds (raised by
// each change it takes), the change as told by mode, a database in pieces 100 ms apart. It keeps
// the contacts it added as "name firstName <email>"; in mode "gone" it goes after one change.
class ScriptedServer : public QObject
{
public:
    quint64 revision = 0;
    QString mode = "accept"; // accept, gone, refuse
    QByteArray database;
    QStringList added;
    std::function<void()> onChange = [] {}; // as each change is answered

    ScriptedServer()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *socket = m_server.nextPendingConnection();
            const auto received = std::make_shared<QByteArray>();
            connect(socket, &QTcpSocket::readyRead, this, [=] {
                *received += socket->readAll();
                Protocol::Message request;
                if (Protocol::decodeMessage(*received, &request) == Protocol::FrameReader::Complete)
                    answer(socket, request);
            });
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    void stop() { m_server.close(); }

private:
    void answer(QTcpSocket *socket, const Protocol::Message &request)
    {
        const qint16 type = request.type;
        qint16 replied = type;
        QByteArray payload = Protocol::pongPayload();
        if (type == qint16(RequestType::Goodbye))
            return;
        if (type == qint16(RequestType::RevisionQuery))
            payload = Protocol::revisionText(revision);
        if (type == qint16(RequestType::DatabaseTransfer))
            payload = database;
        if (type >= qint16(RequestType::AddContact) && type <= qint16(RequestType::DeleteContact)) {
            onChange();
            if (mode == "refuse") {
                replied = qint16(RequestType::WrongPassword);
                payload = Protocol::wrongPasswordPayload();
            } else {
                if (type == qint16(RequestType::AddContact)) {
                    const Contact c = Protocol::decodeContact(request.payload);
                    added << c.displayText() + (c.email.isEmpty() ? "" : " <" + c.email + ">");
                }
                ++revision;
                if (mode == "gone")
                    stop();
            }
        }
        const QByteArray bytes =
            Protocol::encodeMessage(QStringLiteral("server"), replied, payload);
        const int pieces = type == qint16(RequestType::DatabaseTransfer) ? 8 : 1;
        const qsizetype size = bytes.size() / pieces + 1;
        for (int i = 0; i < pieces; ++i)
            QTimer::singleShot(100 * i, socket, [=] {
                socket->write(bytes.mid(i * size, size));
                if (i + 1 == pieces)
                    socket->disconnectFromHost();
            });
    }

    QTcpServer m_server;
};

// One change through the window, and what it leaves.
struct Change
{
    QString action;   // newContact, editContact, deleteContact, importvCard
    quint64 revision; // the server's
    QString mode;     // the server's; "stop": no server; "cancel": the user stops at the first
    QStringList boxes;
    QString status;
    QStringList listed, added; // in the list and the file; as the server added them
    bool editing = false;      // the form still edits
};

} // namespace

Q_DECLARE_METATYPE(Change)

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
        if (!Accounts::create(
                {"n", true, false, {}, Accounts::DefaultHost, m_server->port(), "server"}))
            return nullptr;
        QDir().mkpath(Accounts::databaseDirectory());
        ContactStore::createDatabase(Accounts::databasePath("n"));
        withDatabase(Accounts::databasePath("n"), [](QSqlDatabase &db) {
            ContactStore(db).insert(Protocol::decodeContact(TestClient::contact("A", "1")));
        });
        auto w = std::make_unique<MainWindow>();
        if (!idle(*w))
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
        QFile cards(m_dir.filePath("in.vcf"));
        QVERIFY(cards.open(QIODevice::WriteOnly));
        for (const char *card : {"B;3\nEMAIL:b@x", "A;1\nEMAIL:a@x", ";", "C;4", "B;3"})
            QVERIFY(cards.write("BEGIN:VCARD\nVERSION:3.0\nN:" + QByteArray(card) +
                                "\nEND:VCARD\n") > 0);
        QVERIFY(cards.flush());
    }

    // One change, or an import of the cards "B 3 <b@x>", "A 1 <a@x>", "", "C 4", "B 3", through
    // the window, the server answering as told.
    void changes_data()
    {
        QTest::addColumn<Change>("c");
        const auto row = [](const char *name, const Change &c) { QTest::newRow(name) << c; };
        const QStringList old{"A 1"}, withB{"A 1", "B 3"};
        const QString asked = "question|删除联系人|您真的要删除联系人: A 1";
        const QString open = "open|导入 vCard 文件|vCard 文件 (*.vcf)";
        const QString dup = "A 1: 数据库已存有该联系人信息\n(无名): 联系人 名 不可为空\n";
        const QString no = "服务器未接受此联系人", asking = "正在向服务器发送版本请求...";
        const QString imported =
            "warning|导入警告|3 张名片未能导入:\n" + dup + "B 3: 数据库已存有该联系人信息";
        const QString refused = "warning|导入警告|5 张名片未能导入:\nB 3: " + no + "\n" + dup +
                                "C 4: " + no + "\nB 3: " + no;
        const QString gone = "warning|导入警告|无法连接到服务器, 导入已中止。已导入 1 张名片, "
                             "其余 1 张未导入。\n3 张名片未能导入:\n" +
                             dup + "C 4: 与服务器的通信失败";
        row("add accepted", {"newContact", 0, "accept", {}, "联系人新建完成!", withB, {"B 3"}});
        row("edit accepted", {"editContact", 0, "accept", {}, "联系人信息修改完成!", {"A 2"}, {}});
        row("delete accepted", {"deleteContact", 0, "accept", {asked}, "联系人删除成功!", {}, {}});
        row("edit, not current", {"editContact", 4, "accept", {NotCurrent}, asking, old, {}});
        row("edit refused",
            {"editContact", 0, "refuse", {"critical|出错|密码错误!"}, "出错!", old, {}, true});
        row("edit, no server", {"editContact", 0, "stop", {CannotConnect}, "连接错误", old, {}});
        const QString done = "vCard imported successfully!";
        const QString ended = "vCard 导入已中止, 已导入 1 张名片";
        const QString cancelled = "vCard 导入已取消, 已导入 1 张名片";
        const QStringList b3{"B 3 <b@x>"}, all{"A 1", "B 3", "C 4"};
        row("import", {"importvCard", 0, "accept", {open, imported}, done, all, {b3[0], "C 4"}});
        row("import refused", {"importvCard", 0, "refuse", {open, refused}, done, old, {}});
        row("import, server gone", {"importvCard", 0, "gone", {open, gone}, ended, withB, b3});
        row("import cancelled", {"importvCard", 0, "cancel", {open}, cancelled, withB, b3});
        row("import, not current",
            {"importvCard", 4, "accept", {open, NotCurrent}, asking, old, {}});
    }

    void changes()
    {
        QFETCH(Change, c);
        const std::unique_ptr<MainWindow> w = openWindow();
        QVERIFY(w);
        m_server->revision = c.revision;
        m_server->mode = c.mode == "cancel" ? "accept" : c.mode;
        if (c.mode == "stop")
            m_server->stop();
        bool enabledWhileSent = false;
        m_server->onChange = [&] {
            enabledWhileSent |= find(w.get(), "newContactAction")->isEnabled();
            if (c.mode == "cancel")
                find<QProgressDialog>(w.get(), "importProgress")->cancel();
        };
        selectRow(list(*w), 0);
        emit form(*w)->updateActionsSignal();
        m_dialogs.answers = {QMessageBox::Yes};
        m_dialogs.fileNames = {m_dir.filePath("in.vcf")};
        find(w.get(), c.action + "Action")->trigger();
        QVERIFY(idle(*w));
        if (form(*w)->isEditable()) {
            edit(*w, "nameEdit")->setText(c.action == "newContact" ? "B" : "A");
            edit(*w, "firstNameEdit")->setText(c.action == "newContact" ? "3" : "2");
            click(w.get(), "saveEditButton");
            QVERIFY(idle(*w));
        }
        QCOMPARE(ClientTest::boxes(m_dialogs), c.boxes);
        QCOMPARE(w->statusBar()->currentMessage(), c.status);
        QCOMPARE(listTexts(list(*w)), c.listed);
        QCOMPARE(TestClient::viewFile(Accounts::databasePath("n")).names, c.listed);
        QCOMPARE(m_server->added, c.added);
        // Raised together, once per change taken.
        QCOMPARE(w->localRevision() + c.revision, m_server->revision);
        QVERIFY(!enabledWhileSent);
        QCOMPARE(form(*w)->isEditable(), c.editing);
        if (c.editing)
            QCOMPARE(edit(*w, "firstNameEdit")->text(), "2");
    }

    // A slow transfer: the window keeps running its timers.
    void synchronising_data()
    {
        QTest::addColumn<quint64>("revision");
        QTest::addColumn<QString>("status");
        QTest::newRow("received") << quint64(3) << "数据库同步完成!";
        QTest::newRow("current") << quint64(0) << "数据库已经更新到最新!";
    }

    void synchronising()
    {
        QFETCH(quint64, revision);
        QFETCH(QString, status);
        const std::unique_ptr<MainWindow> w = openWindow();
        QVERIFY(w);
        m_server->revision = revision;
        m_server->database = TestClient::fileBytes(m_dir.filePath("server.sqlite"));
        int ticks = 0, maximum = 0;
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
        QVERIFY(m_dialogs.shown.isEmpty());
        QCOMPARE(w->statusBar()->currentMessage(), status);
        const QStringList expected =
            revision ? TestClient::viewFile(m_dir.filePath("server.sqlite")).names
                     : QStringList{"A 1"};
        QCOMPARE(TestClient::viewFile(Accounts::databasePath("n")).names, expected);
        QCOMPARE(list(*w)->count(), expected.size());
        QCOMPARE(w->localRevision(), revision);
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
