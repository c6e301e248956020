#include "damagedfile.h"
#include "mainwindow.h"
#include "passwords.h"
#include "protocol.h"
#include "revision.h"
#include "scripteddialogs.h"
#include "server.h"
#include "serverdatabase.h"
#include "serverfixture.h"
#include "serversettings.h"
#include "serverwidget.h"
#include "testclient.h"
#include "testhome.h"

#include <QAction>
#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>
#include <optional>

using namespace Protocol;
using ServerFixture::field;
using ServerFixture::settingsFile;
using TestClient::freePort;

namespace {
// Runs the event loop as the program does, does something in it, and tells whether the
// application was asked to quit (0) or not (the loop was ended by the test, 42).
int quitsWhen(std::function<void()> action)
{
    QObject running; // takes along the exit still queued when the action quit
    QTimer::singleShot(0, &running, [&running, action] {
        action();
        QTimer::singleShot(0, &running, [] { QCoreApplication::exit(42); });
    });
    return QCoreApplication::exec();
}

void trigger(MainWindow &w, const char *action)
{
    w.findChild<QAction *>(QLatin1String(action))->trigger();
}

void start(MainWindow &w, const QString &password, quint16 port)
{
    w.serverWidget()->passwordEdit->setText(password);
    w.serverWidget()->portSpinBox->setValue(port);
    w.serverWidget()->startButton->click();
}

// Listening locks the database actions; stopping frees them and zeroes the count.
void verifyListening(MainWindow &w, bool listening)
{
    QCOMPARE(w.serverWidget()->startButton->isHidden(), listening);
    for (const char *name : {"resetAction", "importAction", "exportAction"})
        QCOMPARE(w.findChild<QAction *>(QLatin1String(name))->isEnabled(), !listening);
    QCOMPARE(w.server() && w.server()->isListening(), listening);
    if (!listening)
        QCOMPARE(w.serverWidget()->countLabel->text(), QStringLiteral("0"));
}
} // namespace

class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QUrl url;
public slots:
    void open(const QUrl &opened) { url = opened; }
};

// The server's window: what it shows of the server's signals, start and stop, its questions and
// its database actions.
class TestServerMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScriptedDialogs> m_dialogs;

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("pelicard.*=false")); }

    void init()
    {
        QVERIFY(ServerFixture::freshHome(true));
        m_dialogs = std::make_unique<ScriptedDialogs>();
    }

    void cleanup() { m_dialogs.reset(); }

    // The count and the boxes follow what the server signals; a stop ends what is being served
    // and shows 0 again.
    void startServesAndStopEndsWhatIsBeingServed()
    {
        MainWindow w;
        const quint16 port = freePort();
        start(w, QStringLiteral("开门"), port);
        verifyListening(w, true);
        const QString field = Passwords::fieldText(Passwords::sha1Digest(QStringLiteral("开门")));
        QTcpSocket idle;
        idle.connectToHost(QHostAddress::LocalHost, port);
        QTRY_COMPARE(w.server()->activeConnections(), 1);
        emit w.server()->clientCountChanged(3);
        emit w.server()->clientCountChanged(-2);
        QTRY_COMPARE(w.serverWidget()->countLabel->text(), QStringLiteral("-2"));
        emit w.server()->problem(QStringLiteral("文件错误"), QStringLiteral("无法发送数据库!"));
        m_dialogs->answers = {QMessageBox::Yes};
        w.serverWidget()->stopButton->click(); // asked: a count that is not 0
        verifyListening(w, false);
        QCOMPARE(m_dialogs->shown.size(), 2);
        QCOMPARE(m_dialogs->shown[0].kind + m_dialogs->shown[0].title + m_dialogs->shown[0].text,
                 QStringLiteral("notify文件错误无法发送数据库!"));
        QVERIFY(TestClient::readUntilClosed(idle).closedByServer);

        w.serverWidget()->startButton->click(); // the same port again
        verifyListening(w, true);
        const auto reply = TestClient::offThread(
            [=] { return TestClient::request(port, field, RequestType::Hello, pingPayload()); });
        QCOMPARE(reply.message.payload, QByteArray("pong"));
    }

    // Nothing listens, and nothing typed is stored, when the port is taken or the typed password
    // cannot be used or stored. The stored password shows as a placeholder that is never stored
    // itself; boxes raised while the window is being built do not wait: nobody may be there.
    void startIsRefused_data()
    {
        QTest::addColumn<QString>("typed"); // null: started with the program
        QTest::addColumn<QString>("said");  // in the status bar, or the title of a box
        QTest::addColumn<QString>("box");   // its kind; empty: none
        // The password text stops at the digest's first zero byte: one password in 256 would give
        // an empty text, which anybody's null field matches, and a few more a short one.
        const auto weak = [](int zeroAt) {
            for (int i = 0;; ++i)
                if (Passwords::sha1Digest(QString::number(i)).indexOf('\0') == zeroAt)
                    return QString::number(i);
        };
        const QString unsafe = QStringLiteral("错误: 此密码不安全, 请换一个!");
        const QString failed = QStringLiteral("服务器启动失败");
        QTest::newRow("empty") << "" << QStringLiteral("错误: 密码不可为空!") << "";
        QTest::newRow("digest starts with a zero byte") << weak(0) << unsafe << "";
        QTest::newRow("zero byte among the first eight") << weak(7) << unsafe << "";
        QTest::newRow("settings cannot be written")
            << "新的口令" << QStringLiteral("设置出错") << "critical";
        QTest::newRow("port in use") << "password" << failed << "critical";
        QTest::newRow("port in use at start-up") << QString() << failed << "notify";
    }

    void startIsRefused()
    {
        QFETCH(QString, typed);
        QFETCH(QString, said);
        QFETCH(QString, box);
        QTcpServer blocker;
        QVERIFY(blocker.listen(QHostAddress::AnyIPv4, 0));
        const bool taken = said == "服务器启动失败";
        if (taken)
            ServerSettings::setPort(blocker.serverPort());
        ServerSettings::setStartWithProgram(typed.isNull());
        const int port = ServerSettings::port();
        MainWindow w;
        QCOMPARE(w.serverWidget()->passwordEdit->text(), QStringLiteral("password"));
        std::optional<DamagedFile> damage;
        if (said == "设置出错")
            QVERIFY(damage.emplace(settingsFile(), DamagedFile::Unwritable).ok);
        if (!typed.isNull())
            start(w, typed, taken ? port : freePort());
        QCOMPARE(m_dialogs->shown.size(), box.isEmpty() ? 0 : 1);
        if (box.isEmpty())
            QCOMPARE(w.statusBar()->currentMessage(), said);
        else
            QCOMPARE(m_dialogs->last().kind + m_dialogs->last().title, box + said);
        verifyListening(w, false);
        QCOMPARE(ServerSettings::passwordText(), field());
        QCOMPARE(ServerSettings::port(), port);
    }

    // Started with the program on a store it cannot read, or on a digest too weak to use, the
    // server does not listen and says why; the store is left as it was.
    void unusableSettingsKeepItFromListening_data()
    {
        QTest::addColumn<bool>("weak");
        QTest::newRow("unreadable") << false;
        QTest::newRow("weak digest stored") << true;
    }

    void unusableSettingsKeepItFromListening()
    {
        QFETCH(bool, weak);
        QVERIFY(ServerSettings::setStartWithProgram(true));
        QVERIFY(ServerSettings::setPort(freePort()));
        if (weak) {
            QByteArray digest = Passwords::sha1Digest(ServerFixture::Password);
            digest[0] = '\0';
            QSettings(ServerSettings::Organisation, ServerSettings::Application)
                .setValue("server/password", digest);
        }
        const QByteArray before = TestClient::fileBytes(settingsFile());
        {
            std::optional<DamagedFile> damage;
            if (!weak)
                QVERIFY(damage.emplace(settingsFile(), DamagedFile::Directory).ok);
            MainWindow w;
            verifyListening(w, false);
            if (weak) {
                QCOMPARE(w.statusBar()->currentMessage(),
                         QStringLiteral("错误: 此密码不安全, 请换一个!"));
            } else {
                QCOMPARE(m_dialogs->last().kind + m_dialogs->last().title,
                         QStringLiteral("notify设置出错"));
                QVERIFY(m_dialogs->last().text.contains(settingsFile()));
            }
        }
        QCOMPARE(TestClient::fileBytes(settingsFile()), before);
    }

    void serverWithoutPasswordSaysAnyoneCanConnect()
    {
        QSettings(ServerSettings::Organisation, ServerSettings::Application)
            .remove("server/password");
        MainWindow w;
        start(w, QStringLiteral("password"), freePort()); // the placeholder stores nothing
        verifyListening(w, true);
        QCOMPARE(w.statusBar()->currentMessage(),
                 QStringLiteral("服务器已经启动: 正在监听, 没有密码, 任何人都可以连接!"));
    }

    void trayDoubleClickTogglesAndHelpOpensTheDocumentation()
    {
        MainWindow w;
        w.show();
        auto *tray = w.findChild<QSystemTrayIcon *>();
        emit tray->activated(QSystemTrayIcon::Trigger); // a single click does nothing
        QVERIFY(w.isVisible());
        emit tray->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(!w.isVisible());
        emit tray->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(w.isVisible());

        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
        trigger(w, "documentationAction");
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QCOMPARE(catcher.url.scheme(), QStringLiteral("http"));
        QCOMPARE(catcher.url.path(), QStringLiteral("/products/pelicard/doc/"));
    }

    // Asked once, also when quitting closes the window; No changes nothing, Yes goes on.
    void askedWhileClientsAreCounted_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("quits");
        QTest::newRow("stop") << "stop" << false;
        QTest::newRow("quit") << "quit" << true;
        QTest::newRow("close without a tray") << "close" << true;
    }

    void askedWhileClientsAreCounted()
    {
        QFETCH(QString, how);
        QFETCH(bool, quits);
        auto w = std::make_unique<MainWindow>();
        const quint16 port = freePort();
        start(*w, QStringLiteral("password"), port); // the stored one
        w->show();
        // Counted a moment ago and not shown yet: the question comes all the same.
        emit w->server()->clientCountChanged(1);
        w->serverWidget()->startCheckBox->setChecked(true); // saved by quitting only
        const auto act = [&] {
            if (how == "stop")
                w->serverWidget()->stopButton->click();
            else if (how == "quit")
                w->serverWidget()->quitButton->click();
            else
                w->close();
        };
        m_dialogs->answers = {QMessageBox::No};
        QCOMPARE(quitsWhen(act), 42);
        QCOMPARE(m_dialogs->shown.size(), 1);
        QCOMPARE(m_dialogs->last().title, QStringLiteral("连接的客户端"));
        QTRY_COMPARE(w->serverWidget()->countLabel->text(), QStringLiteral("1"));
        QVERIFY(w->isVisible());
        verifyListening(*w, true);
        QVERIFY(!ServerSettings::startWithProgram());

        m_dialogs->answers = {QMessageBox::Yes};
        QCOMPARE(quitsWhen(act), quits ? 0 : 42);
        QCOMPARE(m_dialogs->shown.size(), 2);
        QCOMPARE(ServerSettings::startWithProgram(), quits);
        if (!quits)
            verifyListening(*w, false);
    }

    // The suffix follows FileNames' rules (tested there); an existing file is kept.
    void exportNames_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("written"); // empty: the export fails
        QTest::newRow("suffix added") << "contacts"
                                      << "contacts.sqlite";
        QTest::newRow("existing file") << "taken.sqlite"
                                       << "";
    }

    void exportNames()
    {
        QFETCH(QString, typed);
        QFETCH(QString, written);
        QTemporaryDir dir;
        if (written.isEmpty()) {
            QFile existing(dir.filePath(typed));
            QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write("keep me") == 7);
        }
        MainWindow w;
        m_dialogs->fileNames = {dir.filePath(typed)};
        trigger(w, "exportAction");
        QCOMPARE(m_dialogs->shown[0].kind, QStringLiteral("save"));
        if (written.isEmpty()) {
            QCOMPARE(m_dialogs->last().kind, QStringLiteral("critical"));
            QCOMPARE(m_dialogs->last().text, QStringLiteral("在导出数据库的过程产生了错误!"));
            QCOMPARE(TestClient::fileBytes(dir.filePath(typed)), QByteArray("keep me"));
            return;
        }
        QCOMPARE(m_dialogs->shown.size(), 1);
        QCOMPARE(TestClient::fileBytes(dir.filePath(written)),
                 TestClient::fileBytes(ServerDatabase::defaultPath()));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{written});
    }

    void reset_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("text"); // of the last box
        QTest::addColumn<bool>("present"); // the file, before the reset
        QTest::newRow("answered no")
            << int(QMessageBox::No) << "请确认从数据库中删除所有联系人?" << true;
        QTest::newRow("deleted") << int(QMessageBox::Yes) << "请重启程序!" << true;
        // Nothing to delete is a failed deletion; the counter still starts again.
        QTest::newRow("no file") << int(QMessageBox::Yes) << "无法删除数据库!" << false;
    }

    void reset()
    {
        QFETCH(int, answer);
        QFETCH(QString, text);
        QFETCH(bool, present);
        MainWindow w; // makes the database when it is missing
        if (!present)
            QVERIFY(QFile::remove(ServerDatabase::defaultPath()));
        Revision::add(5);
        m_dialogs->answers = {QMessageBox::StandardButton(answer)};
        trigger(w, "resetAction");
        QCOMPARE(m_dialogs->shown[0].title, QStringLiteral("确认数据库重置"));
        QCOMPARE(m_dialogs->last().text, text);
        QCOMPARE(QFile::exists(ServerDatabase::defaultPath()),
                 present && answer == QMessageBox::No);
        QCOMPARE(Revision::current(), answer == QMessageBox::No ? 5u : 0u);
    }

    // Only a contacts database is taken; the copy replaces the database whole or not at all,
    // and counts as one change.
    void import_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("text"); // of the last box
        const auto row = [](const char *name, const char *source, int answer, const char *text) {
            QTest::newRow(name) << QString::fromUtf8(source) << answer << QString::fromUtf8(text);
        };
        const char *question = "请确认将外部数据库替换掉当前的数据库?";
        const char *refusal = "所选文件不是联系人数据库!";
        row("imported", "contacts", QMessageBox::Yes, question);
        row("answered no", "contacts", QMessageBox::No, question);
        row("not a contacts database", "text", QMessageBox::Yes, refusal);
        row("database cannot be written", "contacts, target damaged", QMessageBox::Yes,
            "无法写入数据库!");
    }

    void import()
    {
        QFETCH(QString, source);
        QFETCH(int, answer);
        QFETCH(QString, text);
        QTemporaryDir dir;
        const QString chosen = dir.filePath("chosen.sqlite");
        if (source.startsWith("contacts")) {
            QVERIFY(ServerDatabase(chosen).initialise());
            QVERIFY(ServerDatabase(chosen).addContact(encodeContact(Contact())));
        } else {
            QFile file(chosen);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("Li Lei, 010 1234\n") > 0);
        }
        MainWindow w;
        std::optional<DamagedFile> damage;
        if (source.endsWith("damaged"))
            QVERIFY(damage.emplace(ServerDatabase::defaultPath(), DamagedFile::Directory).ok);
        const QByteArray before = TestClient::fileBytes(ServerDatabase::defaultPath());
        const quint64 revision = Revision::current();
        m_dialogs->fileNames = {chosen};
        m_dialogs->answers = {QMessageBox::StandardButton(answer)};
        trigger(w, "importAction");
        const bool imported = source == "contacts" && answer == QMessageBox::Yes;
        QCOMPARE(m_dialogs->shown[0].kind, QStringLiteral("open"));
        QCOMPARE(m_dialogs->last().text, text);
        QCOMPARE(TestClient::fileBytes(ServerDatabase::defaultPath()),
                 imported ? TestClient::fileBytes(chosen) : before);
        QCOMPARE(Revision::current(), revision + (imported ? 1 : 0));
        QCOMPARE(w.statusBar()->currentMessage() == QStringLiteral("数据库导入成功!"), imported);
        QCOMPARE(QDir(ServerDatabase::dataDirectory()).entryList(QDir::Files),
                 QStringList{damage ? "server.sqlite.aside" : "server.sqlite"});
    }
};

PELICARD_TEST_MAIN(TestServerMainWindow)
#include "tst_servermainwindow.moc"
