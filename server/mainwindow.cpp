#include "mainwindow.h"

#include "databasefile.h"
#include "dialogs.h"
#include "filenames.h"
#include "links.h"
#include "logging.h"
#include "revision.h"
#include "server.h"
#include "serverdatabase.h"
#include "serversettings.h"
#include "serverwidget.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QUrl>

namespace {
const QByteArray DocumentationUrl = Links::webPage(Links::DocumentationPath).toEncoded();
// Shown in the password field while a digest is stored; never stored itself.
const QString PasswordPlaceholder = QStringLiteral("password");
const QString DatabaseFilter = QStringLiteral("SQLITE 文件 (*.sqlite)");

template <typename T> T *named(T *object, const char *name)
{
    object->setObjectName(QLatin1String(name));
    return object;
}

} // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("serverMainWindow"));
    m_serverWidget = named(new ServerWidget(this), "serverWidget");

    initialiseDatabase();

    createActions();
    createMenus();
    connect(m_serverWidget->quitButton, &QPushButton::clicked, this, &MainWindow::quitSlot);
    connect(m_serverWidget->startButton, &QPushButton::clicked, this, &MainWindow::startSlot);
    connect(m_serverWidget->stopButton, &QPushButton::clicked, this, &MainWindow::stopSlot);

    statusBar()->setObjectName(QStringLiteral("statusBar"));
    statusBar()->showMessage(tr("服务器没有启动!"));

    createTrayIcon();
    loadSettings();

    setCentralWidget(m_serverWidget);
    setWindowTitle(tr("澄岚联系人管理--服务器"));
    m_countTimer.setSingleShot(true);
    connect(&m_countTimer, &QTimer::timeout, this, &MainWindow::showCount);
    m_constructing = false;
}

MainWindow::~MainWindow()
{
    // Waits for the serving threads before anything they report to goes away.
    delete m_server;
}

void MainWindow::createActions()
{
    m_importAction = named(new QAction(tr("导入数据库"), this), "importAction");
    m_importAction->setStatusTip(tr("导入外部的数据库，包含所有联系人"));
    connect(m_importAction, &QAction::triggered, this, &MainWindow::importDbSlot);

    m_exportAction = named(new QAction(tr("导出数据库"), this), "exportAction");
    m_exportAction->setStatusTip(tr("导出当前数据库，包含所有联系人"));
    connect(m_exportAction, &QAction::triggered, this, &MainWindow::exportDbSlot);

    m_quitAction = named(new QAction(tr("退出"), this), "quitAction");
    m_quitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(m_quitAction, &QAction::triggered, this, &MainWindow::quitSlot);

    m_resetAction = named(new QAction(tr("数据库重置"), this), "resetAction");
    m_resetAction->setStatusTip(tr("重置数据库，所有联系人将被删除"));
    connect(m_resetAction, &QAction::triggered, this, &MainWindow::resetDatabaseSlot);

    m_documentationAction = named(new QAction(tr("在线文档"), this), "documentationAction");
    m_documentationAction->setShortcut(QKeySequence::HelpContents);
    connect(m_documentationAction, &QAction::triggered, this, &MainWindow::documentationSlot);

    m_showAction = named(new QAction(tr("显示 澄岚联系人管理--服务器"), this), "showAction");
    connect(m_showAction, &QAction::triggered, this, &QWidget::show);
    m_hideAction = named(new QAction(tr("隐藏 澄岚联系人管理--服务器"), this), "hideAction");
    connect(m_hideAction, &QAction::triggered, this, &QWidget::hide);
}

void MainWindow::createMenus()
{
    m_fileMenu = named(menuBar()->addMenu(tr("文件")), "fileMenu");
    m_fileMenu->addAction(m_importAction);
    m_fileMenu->addAction(m_exportAction);
    m_fileMenu->addSeparator();
    m_fileMenu->addAction(m_quitAction);

    m_editMenu = named(menuBar()->addMenu(tr("编辑")), "editMenu");
    m_editMenu->addAction(m_resetAction);

    m_helpMenu = named(menuBar()->addMenu(tr("帮助")), "helpMenu");
    m_helpMenu->addAction(m_documentationAction);
}

void MainWindow::createTrayIcon()
{
    m_trayMenu = named(new QMenu(this), "trayMenu");
    m_trayMenu->addAction(m_showAction);
    m_trayMenu->addAction(m_hideAction);
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(m_quitAction);

    m_trayIcon = named(new QSystemTrayIcon(this), "trayIcon");
    m_trayIcon->setContextMenu(m_trayMenu);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::trayActivated);
    m_trayIcon->setIcon(QIcon(QStringLiteral(":/icons/server.png")));
    m_trayIcon->setToolTip(tr("澄岚联系人管理--服务器"));
    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_trayIcon->show();
}

bool MainWindow::trayAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void MainWindow::showCritical(const QString &title, const QString &text)
{
    qCWarning(lcUi).noquote() << title << text;
    if (m_constructing)
        Dialogs::instance().notify(QMessageBox::Critical, this, title, text);
    else
        Dialogs::instance().critical(this, title, text);
}

void MainWindow::showCount()
{
    m_countTimer.stop();
    m_serverWidget->countLabel->setText(QString::number(m_clientCount));
}

void MainWindow::showProblem(const QString &title, const QString &text)
{
    // Nobody may be there to answer: the box does not wait, and the server goes on serving.
    Dialogs::instance().notify(QMessageBox::Critical, nullptr, title, text);
}

void MainWindow::initialiseDatabase()
{
    ServerDatabase database;
    if (!database.initialise())
        showCritical(database.errorTitle(), database.errorString());
}

void MainWindow::loadSettings()
{
    // A store that cannot be read is never taken for one without a password; nothing in it is
    // changed either.
    if (const QString error = ServerSettings::readError(); !error.isEmpty()) {
        showCritical(ServerSettings::errorTitle(), error);
        return;
    }
    restoreGeometry(ServerSettings::geometry());
    if (ServerSettings::hasPassword())
        m_serverWidget->passwordEdit->setText(PasswordPlaceholder);
    m_serverWidget->portSpinBox->setValue(ServerSettings::port());
    if (ServerSettings::startWithProgram()) {
        m_serverWidget->startCheckBox->setChecked(true);
        startSlot();
    }
}

bool MainWindow::saveSettings()
{
    if (!ServerSettings::readError().isEmpty()) {
        qCWarning(lcUi) << "settings not saved: the store cannot be read";
        return false;
    }
    bool saved = ServerSettings::setGeometry(saveGeometry());
    const QString typed = m_serverWidget->passwordEdit->text();
    if (!typed.isEmpty() && typed != PasswordPlaceholder && ServerSettings::isUsablePassword(typed))
        saved = ServerSettings::setPassword(typed) && saved;
    saved = ServerSettings::setPort(m_serverWidget->portSpinBox->value()) && saved;
    saved =
        ServerSettings::setStartWithProgram(m_serverWidget->startCheckBox->isChecked()) && saved;
    if (!saved)
        showCritical(ServerSettings::errorTitle(), ServerSettings::errorText());
    return saved;
}

bool MainWindow::clientsConnected() const
{
    // The label may not show the latest greeting yet.
    return m_clientCount != 0;
}

bool MainWindow::confirmDisconnect()
{
    return Dialogs::instance().question(this, tr("连接的客户端"),
                                        tr("尚有客户端在连接, 请确认是否要关闭服务器?") + '\n' +
                                            tr("此操作可能会导致数据丢失或者错误产生"),
                                        QMessageBox::Warning) == QMessageBox::Yes;
}

void MainWindow::setListening(bool listening)
{
    m_serverWidget->startButton->setVisible(!listening);
    m_serverWidget->stopButton->setVisible(listening);
    m_serverWidget->portSpinBox->setEnabled(!listening);
    m_serverWidget->passwordEdit->setEnabled(!listening);
}

void MainWindow::quitSlot()
{
    if (clientsConnected() && !confirmDisconnect())
        return;
    saveSettings();
    quitApplication();
}

void MainWindow::quitApplication()
{
    m_quitting = true;
    QCoreApplication::quit();
}

void MainWindow::startSlot()
{
    const QString typed = m_serverWidget->passwordEdit->text();
    if (typed.isEmpty()) {
        statusBar()->showMessage(tr("错误: 密码不可为空!"));
        return;
    }
    if (typed != PasswordPlaceholder && !ServerSettings::isUsablePassword(typed)) {
        statusBar()->showMessage(tr("错误: 此密码不安全, 请换一个!"));
        m_serverWidget->passwordEdit->selectAll();
        m_serverWidget->passwordEdit->setFocus();
        return;
    }
    if (const QString error = ServerSettings::readError(); !error.isEmpty()) {
        showCritical(ServerSettings::errorTitle(), error);
        return;
    }
    // A digest stored by an earlier build that refused no password.
    if (typed == PasswordPlaceholder && ServerSettings::storedPasswordIsWeak()) {
        statusBar()->showMessage(tr("错误: 此密码不安全, 请换一个!"));
        qCWarning(lcUi) << "the stored password is not safe; not listening";
        return;
    }
    // Clients would be refused with a password that the next start no longer knows.
    if (!saveSettings())
        return;
    setListening(true);

    m_server = new Server(this);
    connect(m_server, &Server::clientCountChanged, this, [this](int count) {
        m_clientCount = count;
        if (!m_countTimer.isActive())
            m_countTimer.start(CountRefreshMs);
    });
    connect(m_server, &Server::problem, this, &MainWindow::showProblem);
    if (!m_server->listen(QHostAddress::AnyIPv4, quint16(m_serverWidget->portSpinBox->value()))) {
        qCWarning(lcNet) << "cannot listen:" << m_server->errorString();
        showCritical(tr("服务器启动失败"),
                     tr("服务器启动监听失败, 服务器是否已经运行或者端口已经被占用?"));
        stopSlot();
        return;
    }
    if (ServerSettings::passwordText().value_or(QString()).isEmpty()) {
        // The placeholder typed where no password was ever stored, or a digest stored before
        // weak ones were refused.
        qCWarning(lcNet) << "listening without a password: anyone can connect";
        statusBar()->showMessage(tr("服务器已经启动: 正在监听, 没有密码, 任何人都可以连接!"));
    } else {
        statusBar()->showMessage(tr("服务器已经启动: 正在监听"));
    }
    m_resetAction->setEnabled(false);
    m_exportAction->setEnabled(false);
    m_importAction->setEnabled(false);
}

void MainWindow::stopSlot()
{
    if (clientsConnected() && !confirmDisconnect())
        return;
    m_countTimer.stop();
    m_clientCount = 0;
    m_serverWidget->countLabel->setText(QStringLiteral("0"));
    setListening(false);
    if (m_server) {
        m_server->close();
        delete m_server; // waits for the connections still being served
        m_server = nullptr;
    }
    statusBar()->showMessage(tr("服务器已经停止: 未在监听状态!"));
    m_resetAction->setEnabled(true);
    m_exportAction->setEnabled(true);
    m_importAction->setEnabled(true);
}

void MainWindow::documentationSlot()
{
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(DocumentationUrl)));
}

void MainWindow::trayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::DoubleClick)
        return;
    setVisible(!isVisible());
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_quitting) { // quitting closes every window; the question has been asked
        event->accept();
        return;
    }
    if (!trayAvailable()) {
        if (clientsConnected() && !confirmDisconnect()) {
            event->ignore();
            return;
        }
        saveSettings();
        event->accept();
        quitApplication();
        return;
    }
    if (isVisible()) {
        hide();
        m_trayIcon->showMessage(tr("澄岚联系人管理--服务器"), tr("正在运行..."),
                                QSystemTrayIcon::NoIcon, 10000);
        event->ignore();
        return;
    }
    saveSettings();
    event->accept();
    // Accepting the close of a hidden last window ends the program.
    quitApplication();
}

void MainWindow::resetDatabaseSlot()
{
    Dialogs &dialogs = Dialogs::instance();
    if (dialogs.question(this, tr("确认数据库重置"), tr("请确认从数据库中删除所有联系人?"),
                         QMessageBox::Warning) != QMessageBox::Yes)
        return;
    // The counter first: emptied under the old revision, the database would look current to
    // every client that holds the old contacts.
    if (!Revision::reset()) {
        dialogs.critical(this, ServerSettings::errorTitle(), ServerSettings::errorText());
        return;
    }
    ServerDatabase database;
    if (database.remove())
        dialogs.information(this, tr("数据库重置"), tr("请重启程序!"));
    else
        dialogs.critical(this, tr("文件出错"), tr("无法删除数据库!"));
}

void MainWindow::exportDbSlot()
{
    Dialogs &dialogs = Dialogs::instance();
    QString name =
        dialogs.saveFileName(this, tr("导出数据库文件"), QDir::homePath(), DatabaseFilter);
    if (name.isEmpty())
        return;
    name = FileNames::withSuffix(name, QStringLiteral(".sqlite"));
    ServerDatabase database;
    if (!database.exportTo(name)) {
        qCWarning(lcDb) << "export failed:" << database.errorString();
        dialogs.critical(this, tr("导出数据库出错"), tr("在导出数据库的过程产生了错误!"));
        return;
    }
    statusBar()->showMessage(tr("数据库导出完成!"));
}

void MainWindow::importDbSlot()
{
    Dialogs &dialogs = Dialogs::instance();
    const QString name =
        dialogs.openFileName(this, tr("导入数据文件"), QDir::homePath(), DatabaseFilter);
    if (name.isEmpty())
        return;
    if (DatabaseFile chosen(name); !chosen.isContactsDatabase()) {
        qCWarning(lcDb) << "import refused:" << chosen.errorString();
        dialogs.critical(this, tr("文件出错"), tr("所选文件不是联系人数据库!"));
        return;
    }
    if (dialogs.question(this, tr("导入数据库"), tr("请确认将外部数据库替换掉当前的数据库?"),
                         QMessageBox::Warning) != QMessageBox::Yes)
        return;
    // The counter first, as for every change: a revision raised for nothing only makes clients
    // fetch the database again, a database replaced under the old one would look current.
    const quint64 revision = Revision::current();
    if (!Revision::increment()) {
        dialogs.critical(this, ServerSettings::errorTitle(), ServerSettings::errorText());
        return;
    }
    ServerDatabase database;
    if (!database.replaceWith(name)) {
        qCWarning(lcDb) << "import failed:" << database.errorString();
        if (!ServerSettings::setRevision(revision)) // harmless if it stays raised
            qCWarning(lcDb) << "revision left raised after a failed import";
        dialogs.critical(this, tr("文件出错"), tr("无法写入数据库!"));
        return;
    }
    statusBar()->showMessage(tr("数据库导入成功!"));
}
