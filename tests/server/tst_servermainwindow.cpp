#include "mainwindow.h"
#include "passwords.h"
#include "protocol.h"
#include "revision.h"
#include "scripteddialogs.h"
#include "server.h"
#include "serverdatabase.h"
#include "serversettings.h"
#include "serverwidget.h"
#include "testclient.h"
#include "testhome.h"

#include <QAction>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

using namespace Protocol;

namespace {
QSettings serverStore()
{
    return QSettings(QString::fromLatin1(ServerSettings::Organisation),
                     QString::fromLatin1(ServerSettings::Application));
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::AnyIPv4, 0);
    return probe.serverPort();
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs the event loop as the program does, does something in it, and tells whether the
// application was asked to quit (0) or not (the loop was ended by the test, 42).
int quitsWhen(std::function<void()> action)
{
    QTimer::singleShot(0, qApp, [action] {
        action();
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(42); });
    });
    return QCoreApplication::exec();
}

// A window that believes a tray is there, to see what a desktop with a tray gets.
class TrayWindow : public MainWindow
{
protected:
    bool trayAvailable() const override { return true; }
};

class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls.append(url); }
};
} // namespace

class TestServerMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScriptedDialogs> m_dialogs;

    static ServerWidget *widgets(MainWindow &w) { return w.serverWidget(); }
    static QAction *action(MainWindow &w, const char *name)
    {
        return w.findChild<QAction *>(QLatin1String(name));
    }
    static QString status(MainWindow &w) { return w.statusBar()->currentMessage(); }
    static bool listening(MainWindow &w) { return w.server() && w.server()->isListening(); }
    static void verifyStopped(MainWindow &w)
    {
        ServerWidget *ui = widgets(w);
        QVERIFY(!ui->startButton->isHidden());
        QVERIFY(ui->stopButton->isHidden());
        QVERIFY(ui->portSpinBox->isEnabled());
        QVERIFY(ui->passwordEdit->isEnabled());
        QVERIFY(action(w, "resetAction")->isEnabled());
        QVERIFY(action(w, "importAction")->isEnabled());
        QVERIFY(action(w, "exportAction")->isEnabled());
        QCOMPARE(ui->countLabel->text(), QStringLiteral("0"));
        QVERIFY(!w.server());
    }
    static void verifyListening(MainWindow &w)
    {
        ServerWidget *ui = widgets(w);
        QVERIFY(ui->startButton->isHidden());
        QVERIFY(!ui->stopButton->isHidden());
        QVERIFY(!ui->portSpinBox->isEnabled());
        QVERIFY(!ui->passwordEdit->isEnabled());
        QVERIFY(!action(w, "resetAction")->isEnabled());
        QVERIFY(!action(w, "importAction")->isEnabled());
        QVERIFY(!action(w, "exportAction")->isEnabled());
        QVERIFY(listening(w));
        QCOMPARE(status(w), QStringLiteral("服务器已经启动: 正在监听"));
    }
    static void start(MainWindow &w, const QString &password, quint16 port)
    {
        widgets(w)->passwordEdit->setText(password);
        widgets(w)->portSpinBox->setValue(port);
        widgets(w)->startButton->click();
    }

private slots:
    void init()
    {
        serverStore().clear();
        serverStore().sync();
        QDir(ServerDatabase::dataDirectory()).removeRecursively();
        m_dialogs = std::make_unique<ScriptedDialogs>();
    }
    void cleanup() { m_dialogs.reset(); }

    // Construction
    void windowStartsStoppedWithItsTexts()
    {
        MainWindow w;
        ServerWidget *ui = widgets(w);
        QCOMPARE(w.windowTitle(), QStringLiteral("澄岚联系人管理--服务器"));
        QCOMPARE(status(w), QStringLiteral("服务器没有启动!"));
        QCOMPARE(ui->portLabel->text(), QStringLiteral("端口: "));
        QCOMPARE(ui->portSpinBox->minimum(), 60);
        QCOMPARE(ui->portSpinBox->maximum(), 65535);
        QCOMPARE(ui->portSpinBox->value(), 1639);
        QCOMPARE(ui->portSpinBox->toolTip(), QStringLiteral("服务器监听端口 (默认 1639)"));
        QCOMPARE(ui->passwordLabel->text(), QStringLiteral("密码: "));
        QCOMPARE(ui->passwordEdit->echoMode(), QLineEdit::Password);
        QCOMPARE(ui->passwordEdit->toolTip(), QStringLiteral("客户端需要使用此密码来连接服务器"));
        QCOMPARE(ui->passwordEdit->text(), QString());
        QCOMPARE(ui->settingsBox->title(), QStringLiteral("服务器设置"));
        QCOMPARE(ui->startCheckBox->text(), QStringLiteral("服务器端随程序同时启动"));
        QVERIFY(!ui->startCheckBox->isChecked());
        QCOMPARE(ui->clientsLabel->text(), QStringLiteral("已经连接的客户端: "));
        QCOMPARE(ui->quitButton->text(), QStringLiteral("退出"));
        QCOMPARE(ui->startButton->text(), QStringLiteral("开始"));
        QCOMPARE(ui->stopButton->text(), QStringLiteral("停止"));
        verifyStopped(w);
        QCOMPARE(w.centralWidget(), ui);
    }

    void menusActionsAndTray()
    {
        MainWindow w;
        const QList<QAction *> menus = w.menuBar()->actions();
        QCOMPARE(menus.size(), 3);
        QCOMPARE(menus[0]->text(), QStringLiteral("文件"));
        QCOMPARE(menus[1]->text(), QStringLiteral("编辑"));
        QCOMPARE(menus[2]->text(), QStringLiteral("帮助"));
        const QList<QAction *> file = menus[0]->menu()->actions();
        QCOMPARE(file.size(), 4);
        QCOMPARE(file[0], action(w, "importAction"));
        QCOMPARE(file[1], action(w, "exportAction"));
        QVERIFY(file[2]->isSeparator());
        QCOMPARE(file[3], action(w, "quitAction"));
        QCOMPARE(menus[1]->menu()->actions(), QList<QAction *>{action(w, "resetAction")});
        QCOMPARE(menus[2]->menu()->actions(), QList<QAction *>{action(w, "documentationAction")});

        QCOMPARE(action(w, "importAction")->text(), QStringLiteral("导入数据库"));
        QCOMPARE(action(w, "importAction")->statusTip(),
                 QStringLiteral("导入外部的数据库，包含所有联系人"));
        QCOMPARE(action(w, "exportAction")->text(), QStringLiteral("导出数据库"));
        QCOMPARE(action(w, "exportAction")->statusTip(),
                 QStringLiteral("导出当前数据库，包含所有联系人"));
        QCOMPARE(action(w, "quitAction")->text(), QStringLiteral("退出"));
        QCOMPARE(action(w, "quitAction")->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
        QCOMPARE(action(w, "resetAction")->text(), QStringLiteral("数据库重置"));
        QCOMPARE(action(w, "resetAction")->statusTip(),
                 QStringLiteral("重置数据库，所有联系人将被删除"));
        QCOMPARE(action(w, "documentationAction")->text(), QStringLiteral("在线文档"));
        QCOMPARE(action(w, "documentationAction")->shortcut(),
                 QKeySequence(QKeySequence::HelpContents));

        QSystemTrayIcon *tray = w.trayIcon();
        QCOMPARE(tray->toolTip(), QStringLiteral("澄岚联系人管理--服务器"));
        QVERIFY(!tray->icon().isNull());
        const QList<QAction *> trayMenu = tray->contextMenu()->actions();
        QCOMPARE(trayMenu.size(), 4);
        QCOMPARE(trayMenu[0]->text(), QStringLiteral("显示 澄岚联系人管理--服务器"));
        QCOMPARE(trayMenu[1]->text(), QStringLiteral("隐藏 澄岚联系人管理--服务器"));
        QVERIFY(trayMenu[2]->isSeparator());
        QCOMPARE(trayMenu[3], action(w, "quitAction"));
        trayMenu[0]->trigger();
        QVERIFY(w.isVisible());
        trayMenu[1]->trigger();
        QVERIFY(!w.isVisible());
    }

    void startUpCreatesTheDatabaseAndZeroRevision()
    {
        serverStore().setValue("server/serverRevision", 9);
        MainWindow w;
        QVERIFY(QFile::exists(ServerDatabase::defaultPath()));
        QCOMPARE(Revision::current(), 0u);
        QVERIFY(m_dialogs->shown.isEmpty());
    }

    void databaseThatCannotBeOpenedIsReportedWithoutWaiting()
    {
        QVERIFY(QDir().mkpath(ServerDatabase::defaultPath())); // a directory in its place
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot open"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("数据库出错"));
        MainWindow w;
        QCOMPARE(m_dialogs->shown.size(), 1);
        QCOMPARE(m_dialogs->last().kind, QStringLiteral("notify"));
        QCOMPARE(m_dialogs->last().icon, QMessageBox::Critical);
        QCOMPARE(m_dialogs->last().title, QStringLiteral("数据库出错"));
        QVERIFY(!m_dialogs->last().text.isEmpty());
    }

    // Start and stop
    void emptyPasswordIsRefused()
    {
        MainWindow w;
        widgets(w)->portSpinBox->setValue(4321);
        widgets(w)->startButton->click();
        QCOMPARE(status(w), QStringLiteral("错误: 密码不可为空!"));
        verifyStopped(w);
        QVERIFY(!serverStore().contains("server/port")); // nothing saved
    }

    void startStoresTheDigestAndServes()
    {
        MainWindow w;
        const quint16 port = freePort();
        start(w, QStringLiteral("开门"), port);
        verifyListening(w);
        QCOMPARE(serverStore().value("server/password").toByteArray(),
                 Passwords::sha1Digest(QStringLiteral("开门")));
        QCOMPARE(serverStore().value("server/port").toInt(), int(port));
        QCOMPARE(serverStore().value("server/start").toBool(), false);

        const QString field = Passwords::fieldText(Passwords::sha1Digest(QStringLiteral("开门")));
        const auto reply = TestClient::offThread(
            [=] { return TestClient::request(port, field, RequestType::Hello, pingPayload()); });
        QCOMPARE(reply.message.payload, QByteArray("pong"));
        QTRY_COMPARE(widgets(w)->countLabel->text(), QStringLiteral("1"));
    }

    void portInUseFailsAndReturnsToStopped()
    {
        QTcpServer blocker;
        QVERIFY(blocker.listen(QHostAddress::AnyIPv4, 0));
        MainWindow w;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot listen"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("服务器启动失败"));
        start(w, QStringLiteral("pw"), blocker.serverPort());
        QCOMPARE(m_dialogs->shown.size(), 1);
        QCOMPARE(m_dialogs->last().kind, QStringLiteral("critical"));
        QCOMPARE(m_dialogs->last().title, QStringLiteral("服务器启动失败"));
        QCOMPARE(m_dialogs->last().text,
                 QStringLiteral("服务器启动监听失败, 服务器是否已经运行或者端口已经被占用?"));
        verifyStopped(w);
        QCOMPARE(status(w), QStringLiteral("服务器已经停止: 未在监听状态!"));
    }

    void storedPasswordIsShownAsPlaceholderAndKept()
    {
        ServerSettings::setPassword(QStringLiteral("old"));
        MainWindow w;
        QCOMPARE(widgets(w)->passwordEdit->text(), QStringLiteral("password"));
        start(w, QStringLiteral("password"), freePort());
        verifyListening(w);
        QCOMPARE(serverStore().value("server/password").toByteArray(),
                 Passwords::sha1Digest(QStringLiteral("old")));
    }

    void clearedPasswordKeepsTheDigestButCannotStart()
    {
        ServerSettings::setPassword(QStringLiteral("old"));
        MainWindow w;
        widgets(w)->passwordEdit->clear();
        widgets(w)->startButton->click();
        QCOMPARE(status(w), QStringLiteral("错误: 密码不可为空!"));
        QCOMPARE(serverStore().value("server/password").toByteArray(),
                 Passwords::sha1Digest(QStringLiteral("old")));
    }

    void placeholderWithoutStoredPasswordAcceptsOnlyAnEmptyField()
    {
        MainWindow w;
        const quint16 port = freePort();
        start(w, QStringLiteral("password"), port);
        verifyListening(w);
        QVERIFY(!serverStore().contains("server/password"));
        const auto accepted = TestClient::offThread([=] {
            return TestClient::request(port, QString(), RequestType::Hello, pingPayload());
        });
        QVERIFY(accepted.message.is(RequestType::Hello));
        const auto refused = TestClient::offThread([=] {
            return TestClient::request(port, QStringLiteral("password"), RequestType::Hello,
                                       pingPayload());
        });
        QVERIFY(refused.message.is(RequestType::WrongPassword));
    }

    void startWithProgramListensAtOnce()
    {
        const quint16 port = freePort();
        ServerSettings::setPassword(QStringLiteral("pw"));
        ServerSettings::setPort(port);
        ServerSettings::setStartWithProgram(true);
        MainWindow w;
        QVERIFY(widgets(w)->startCheckBox->isChecked());
        QCOMPARE(widgets(w)->portSpinBox->value(), int(port));
        verifyListening(w);
        QCOMPARE(w.server()->serverPort(), port);
    }

    void startWithProgramOnABusyPortDoesNotWait()
    {
        QTcpServer blocker;
        QVERIFY(blocker.listen(QHostAddress::AnyIPv4, 0));
        ServerSettings::setPassword(QStringLiteral("pw"));
        ServerSettings::setPort(blocker.serverPort());
        ServerSettings::setStartWithProgram(true);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot listen"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("服务器启动失败"));
        MainWindow w;
        QCOMPARE(m_dialogs->shown.size(), 1);
        QCOMPARE(m_dialogs->last().kind, QStringLiteral("notify"));
        QCOMPARE(m_dialogs->last().title, QStringLiteral("服务器启动失败"));
        verifyStopped(w);
    }

    void stopWithClientsAsks()
    {
        MainWindow w;
        start(w, QStringLiteral("pw"), freePort());
        widgets(w)->countLabel->setText(QStringLiteral("2"));
        m_dialogs->answers = {QMessageBox::No, QMessageBox::Yes};
        widgets(w)->stopButton->click();
        QCOMPARE(m_dialogs->last().kind, QStringLiteral("question"));
        QCOMPARE(m_dialogs->last().icon, QMessageBox::Warning);
        QCOMPARE(m_dialogs->last().title, QStringLiteral("连接的客户端"));
        QCOMPARE(m_dialogs->last().text,
                 QStringLiteral("尚有客户端在连接, 请确认是否要关闭服务器?\n"
                                "此操作可能会导致数据丢失或者错误产生"));
        verifyListening(w);
        QCOMPARE(widgets(w)->countLabel->text(), QStringLiteral("2"));

        widgets(w)->stopButton->click();
        verifyStopped(w);
        QCOMPARE(status(w), QStringLiteral("服务器已经停止: 未在监听状态!"));
        QCOMPARE(m_dialogs->shown.size(), 2);
    }

    void countBelowZeroAlsoCountsAsConnected()
    {
        MainWindow w;
        start(w, QStringLiteral("pw"), freePort());
        widgets(w)->countLabel->setText(QStringLiteral("-1"));
        widgets(w)->stopButton->click();
        QCOMPARE(m_dialogs->shown.size(), 1);
        verifyListening(w);
    }

    void stopWithoutClientsAsksNothingAndEndsServedConnections()
    {
        MainWindow w;
        const quint16 port = freePort();
        start(w, QStringLiteral("pw"), port);
        QTcpSocket idle;
        idle.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(idle.waitForConnected(5000));
        QTRY_COMPARE(w.server()->activeConnections(), 1);
        widgets(w)->stopButton->click();
        QVERIFY(m_dialogs->shown.isEmpty());
        verifyStopped(w);
        const auto reply = TestClient::readUntilClosed(idle, 10000);
        QVERIFY(reply.closedByServer);
        // And it can listen again on the same port.
        widgets(w)->startButton->click();
        verifyListening(w);
    }

    // Quit and close
    void quitWithClientsAsksAndNoKeepsRunning()
    {
        MainWindow w;
        widgets(w)->countLabel->setText(QStringLiteral("1"));
        widgets(w)->portSpinBox->setValue(2345);
        m_dialogs->answers = {QMessageBox::No};
        QCOMPARE(quitsWhen([&] { action(w, "quitAction")->trigger(); }), 42);
        QCOMPARE(m_dialogs->last().title, QStringLiteral("连接的客户端"));
        QVERIFY(!serverStore().contains("server/port"));

        m_dialogs->answers = {QMessageBox::Yes};
        QCOMPARE(quitsWhen([&] { widgets(w)->quitButton->click(); }), 0);
        QCOMPARE(serverStore().value("server/port").toInt(), 2345);
    }

    void quitFromAShownWindowAsksOnce()
    {
        MainWindow w;
        w.show();
        widgets(w)->countLabel->setText(QStringLiteral("1"));
        m_dialogs->answers = {QMessageBox::Yes};
        QCOMPARE(quitsWhen([&] { widgets(w)->quitButton->click(); }), 0);
        QCOMPARE(m_dialogs->shown.size(), 1);

        TrayWindow tray;
        tray.show();
        QCOMPARE(quitsWhen([&] { action(tray, "quitAction")->trigger(); }), 0);
        QCOMPARE(m_dialogs->shown.size(), 1);
    }

    void quitWithoutClientsSavesAndQuits()
    {
        MainWindow w;
        widgets(w)->startCheckBox->setChecked(true);
        QCOMPARE(quitsWhen([&] { action(w, "quitAction")->trigger(); }), 0);
        QVERIFY(m_dialogs->shown.isEmpty());
        QCOMPARE(serverStore().value("server/start").toBool(), true);
        QCOMPARE(serverStore().value("server/port").toInt(), 1639);
        QVERIFY(serverStore().contains("mainWindow/geometry"));
    }

    void quitWhileListeningEndsServedConnections()
    {
        auto w = std::make_unique<MainWindow>();
        const quint16 port = freePort();
        start(*w, QStringLiteral("pw"), port);
        QTcpSocket idle;
        idle.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(idle.waitForConnected(5000));
        QTRY_COMPARE(w->server()->activeConnections(), 1);
        QCOMPARE(quitsWhen([&] { widgets(*w)->quitButton->click(); }), 0);
        w.reset(); // as the program ends
        QVERIFY(TestClient::readUntilClosed(idle, 10000).closedByServer);
    }

    void closeWithoutTrayQuits()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        widgets(w)->portSpinBox->setValue(3456);
        QCOMPARE(quitsWhen([&] { w.close(); }), 0);
        QCOMPARE(serverStore().value("server/port").toInt(), 3456);
    }

    void closeWithoutTrayAsksWhileClientsAreCounted()
    {
        MainWindow w;
        w.show();
        widgets(w)->countLabel->setText(QStringLiteral("3"));
        m_dialogs->answers = {QMessageBox::No};
        QCOMPARE(quitsWhen([&] { w.close(); }), 42);
        QVERIFY(w.isVisible());
        QCOMPARE(m_dialogs->last().title, QStringLiteral("连接的客户端"));
    }

    void closeWithTrayHidesAndKeepsRunning()
    {
        TrayWindow w;
        w.show();
        widgets(w)->countLabel->setText(QStringLiteral("3"));
        QCOMPARE(quitsWhen([&] { w.close(); }), 42);
        QVERIFY(!w.isVisible());
        QVERIFY(m_dialogs->shown.isEmpty()); // closing never asks
        QVERIFY(!serverStore().contains("server/port"));
        // A close that reaches the hidden window saves and ends the program.
        QCOMPARE(quitsWhen([&] { w.close(); }), 0);
        QVERIFY(serverStore().contains("server/port"));
    }

    void trayDoubleClickTogglesTheWindow()
    {
        MainWindow w;
        w.show();
        emit w.trayIcon()->activated(QSystemTrayIcon::Trigger);
        QVERIFY(w.isVisible());
        emit w.trayIcon()->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(!w.isVisible());
        emit w.trayIcon()->activated(QSystemTrayIcon::Context);
        QVERIFY(!w.isVisible());
        emit w.trayIcon()->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(w.isVisible());
    }

    void documentationOpensTheOnlinePages()
    {
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
        MainWindow w;
        action(w, "documentationAction")->trigger();
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QCOMPARE(catcher.urls.size(), 1);
        QCOMPARE(catcher.urls[0].scheme(), QStringLiteral("http"));
        QCOMPARE(catcher.urls[0].path(), QStringLiteral("/products/pelicard/doc/"));
    }

    // Maintenance
    void maintenanceIsDisabledWhileListening()
    {
        MainWindow w;
        start(w, QStringLiteral("pw"), freePort());
        verifyListening(w);
        widgets(w)->stopButton->click();
        verifyStopped(w);
    }

    void exportNameRules_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("written");
        QTest::newRow("no extension") << "contacts"
                                      << "contacts.sqlite";
        QTest::newRow("extension") << "contacts.sqlite"
                                   << "contacts.sqlite";
        QTest::newRow("inside the name") << "a.sqlite.bak"
                                         << "a.sqlite.bak";
        QTest::newRow("other case") << "b.SQLITE"
                                    << "b.SQLITE.sqlite";
    }

    void exportNameRules()
    {
        QFETCH(QString, typed);
        QFETCH(QString, written);
        QTemporaryDir dir;
        MainWindow w;
        m_dialogs->fileNames = {dir.filePath(typed)};
        action(w, "exportAction")->trigger();
        QCOMPARE(m_dialogs->shown[0].kind, QStringLiteral("save"));
        QCOMPARE(m_dialogs->shown[0].title, QStringLiteral("导出数据库文件"));
        QCOMPARE(m_dialogs->shown[0].text, QStringLiteral("SQLITE 文件 (*.sqlite)"));
        QCOMPARE(m_dialogs->shown.size(), 1);
        QCOMPARE(status(w), QStringLiteral("数据库导出完成!"));
        QCOMPARE(fileBytes(dir.filePath(written)), fileBytes(ServerDatabase::defaultPath()));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{written});
    }

    void exportOntoAnExistingFileFails()
    {
        QTemporaryDir dir;
        QFile existing(dir.filePath("taken.sqlite"));
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("keep me");
        existing.close();
        MainWindow w;
        m_dialogs->fileNames = {existing.fileName()};
        action(w, "exportAction")->trigger();
        QCOMPARE(m_dialogs->last().kind, QStringLiteral("critical"));
        QCOMPARE(m_dialogs->last().title, QStringLiteral("导出数据库出错"));
        QCOMPARE(m_dialogs->last().text, QStringLiteral("在导出数据库的过程产生了错误!"));
        QCOMPARE(fileBytes(existing.fileName()), QByteArray("keep me"));
        QCOMPARE(status(w), QStringLiteral("服务器没有启动!"));
    }

    void exportCancelledDoesNothing()
    {
        MainWindow w;
        action(w, "exportAction")->trigger();
        QCOMPARE(m_dialogs->shown.size(), 1);
        QCOMPARE(status(w), QStringLiteral("服务器没有启动!"));
    }

    void resetAnsweredNoChangesNothing()
    {
        MainWindow w;
        Revision::increment();
        m_dialogs->answers = {QMessageBox::No};
        action(w, "resetAction")->trigger();
        QCOMPARE(m_dialogs->shown.size(), 1);
        QCOMPARE(m_dialogs->last().kind, QStringLiteral("question"));
        QCOMPARE(m_dialogs->last().icon, QMessageBox::Warning);
        QCOMPARE(m_dialogs->last().title, QStringLiteral("确认数据库重置"));
        QCOMPARE(m_dialogs->last().text, QStringLiteral("请确认从数据库中删除所有联系人?"));
        QVERIFY(QFile::exists(ServerDatabase::defaultPath()));
        QCOMPARE(Revision::current(), 1u);
    }

    void resetDeletesTheFileAndZeroesTheRevision()
    {
        MainWindow w;
        Revision::increment();
        m_dialogs->answers = {QMessageBox::Yes};
        action(w, "resetAction")->trigger();
        QVERIFY(!QFile::exists(ServerDatabase::defaultPath()));
        QCOMPARE(m_dialogs->last().kind, QStringLiteral("information"));
        QCOMPARE(m_dialogs->last().title, QStringLiteral("数据库重置"));
        QCOMPARE(m_dialogs->last().text, QStringLiteral("请重启程序!"));
        QCOMPARE(Revision::current(), 0u);
        // The next start creates the file anew.
        MainWindow next;
        QVERIFY(QFile::exists(ServerDatabase::defaultPath()));
    }

    void resetThatCannotDeleteStillZeroesTheRevision()
    {
        MainWindow w;
        QVERIFY(QFile::remove(ServerDatabase::defaultPath()));
        Revision::increment();
        m_dialogs->answers = {QMessageBox::Yes};
        action(w, "resetAction")->trigger();
        QCOMPARE(m_dialogs->last().kind, QStringLiteral("critical"));
        QCOMPARE(m_dialogs->last().title, QStringLiteral("文件出错"));
        QCOMPARE(m_dialogs->last().text, QStringLiteral("无法删除数据库!"));
        QCOMPARE(Revision::current(), 0u);
    }

    void importReplacesTheDatabaseAndCounts()
    {
        QTemporaryDir dir;
        const QString other = dir.filePath("other.sqlite");
        QVERIFY(ServerDatabase(other).initialise());
        ServerDatabase(other).addContact(encodeContact(Contact()));
        const QByteArray otherBytes = fileBytes(other);
        MainWindow w;
        Revision::reset();
        m_dialogs->fileNames = {other};
        m_dialogs->answers = {QMessageBox::Yes};
        action(w, "importAction")->trigger();
        QCOMPARE(m_dialogs->shown[0].kind, QStringLiteral("open"));
        QCOMPARE(m_dialogs->shown[0].title, QStringLiteral("导入数据文件"));
        QCOMPARE(m_dialogs->shown[0].text, QStringLiteral("SQLITE 文件 (*.sqlite)"));
        QCOMPARE(m_dialogs->shown[1].kind, QStringLiteral("question"));
        QCOMPARE(m_dialogs->shown[1].icon, QMessageBox::Warning);
        QCOMPARE(m_dialogs->shown[1].title, QStringLiteral("导入数据库"));
        QCOMPARE(m_dialogs->shown[1].text, QStringLiteral("请确认将外部数据库替换掉当前的数据库?"));
        QCOMPARE(m_dialogs->shown.size(), 2);
        QCOMPARE(fileBytes(ServerDatabase::defaultPath()), otherBytes);
        QCOMPARE(Revision::current(), 1u);
        QCOMPARE(status(w), QStringLiteral("数据库导入成功!"));
    }

    void importAnsweredNoOrCancelledChangesNothing()
    {
        QTemporaryDir dir;
        const QString other = dir.filePath("other.sqlite");
        QVERIFY(ServerDatabase(other).initialise());
        MainWindow w;
        ServerDatabase().addContact(encodeContact(Contact()));
        const QByteArray before = fileBytes(ServerDatabase::defaultPath());
        const quint64 revision = Revision::current();

        action(w, "importAction")->trigger(); // no file chosen
        QCOMPARE(m_dialogs->shown.size(), 1);
        m_dialogs->fileNames = {other};
        m_dialogs->answers = {QMessageBox::No};
        action(w, "importAction")->trigger();
        QCOMPARE(m_dialogs->shown.size(), 3);
        QCOMPARE(fileBytes(ServerDatabase::defaultPath()), before);
        QCOMPARE(Revision::current(), revision);
        QCOMPARE(status(w), QStringLiteral("服务器没有启动!"));
    }

    void importOfAnUnreadableFileKeepsTheDatabase()
    {
        QTemporaryDir dir;
        MainWindow w;
        ServerDatabase().addContact(encodeContact(Contact()));
        const QByteArray before = fileBytes(ServerDatabase::defaultPath());
        const quint64 revision = Revision::current();
        m_dialogs->fileNames = {dir.path()}; // a directory: nothing to copy
        m_dialogs->answers = {QMessageBox::Yes};
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("import failed"));
        action(w, "importAction")->trigger();
        QCOMPARE(m_dialogs->last().kind, QStringLiteral("critical"));
        QCOMPARE(m_dialogs->last().title, QStringLiteral("文件出错"));
        QCOMPARE(m_dialogs->last().text, QStringLiteral("无法写入数据库!"));
        QCOMPARE(fileBytes(ServerDatabase::defaultPath()), before);
        QCOMPARE(Revision::current(), revision);
    }
};

PELICARD_TEST_MAIN(TestServerMainWindow)
#include "tst_servermainwindow.moc"
