#include "mainwindow.h"

#include "aboutdialog.h"
#include "accounts.h"
#include "accountsession.h"
#include "addresswidget.h"
#include "contactlistwidget.h"
#include "databasefile.h"
#include "dialogs.h"
#include "filenames.h"
#include "links.h"
#include "logging.h"
#include "mainwidget.h"
#include "networkrunner.h"
#include "newaccountwidget.h"
#include "printwidget.h"
#include "searchwidget.h"
#include "settingswidget.h"
#include "updatecheck.h"
#include "version.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

// A menu entry shows "&" as a mnemonic marker unless it is doubled.
QString menuText(const QString &name)
{
    QString text = name;
    return text.replace(QLatin1Char('&'), QLatin1String("&&"));
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), m_version(QLatin1String(Version::Text))
{
    setObjectName(QStringLiteral("mainWindow"));
    // Closing hides the window in the tray; only the quit action ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    setAsideUnreadableSettings();

    m_session = new AccountSession(this);
    m_mainWidget = new MainWidget(m_session, this);
    m_network = new NetworkRunner(m_session, this);
    m_mainWidget->addressWidget()->setNetwork(m_network);
    connect(m_network, &NetworkRunner::busyChanged, this, &MainWindow::networkBusySlot);
    m_updateCheck = new UpdateCheck(this);
    connect(m_updateCheck, &UpdateCheck::done, this, &MainWindow::updateDoneSlot);
    createActions();
    createMenus();
    createToolBar();
    statusBar()->showMessage(tr("就绪"));
    createTrayIcon();
    connectContactPage();
    createPages();
    setWindowTitle(tr("澄岚联系人管理器"));
    rebuildAccountMenu();
    // A protected account's prompt comes before the window.
    openAccount();
    readSettings();
    checkAccounts();
    if (Accounts::checkUpdates())
        updateSlot();
}

MainWindow::~MainWindow()
{
    delete m_newAccountWidget;
}

void MainWindow::createActions()
{
    // Shortcuts: a standard key, or else the keys as text.
    struct Row
    {
        QAction *MainWindow::*action;
        const char *name;
        const char *text;
        const char *statusTip;
        const char *icon;
        void (MainWindow::*slot)();
        QKeySequence::StandardKey key = QKeySequence::UnknownKey;
        const char *keys = nullptr;
    };
    // The contact actions' slots are the form's (connectContactPage).
    static const Row rows[] = {
        {&MainWindow::m_newContactAction, "newContactAction", QT_TR_NOOP("新建联系人"),
         QT_TR_NOOP("增加一名新联系人"), "add_contact", nullptr, QKeySequence::New},
        {&MainWindow::m_editContactAction, "editContactAction", QT_TR_NOOP("编辑联系人"),
         QT_TR_NOOP("编辑选中的联系人信息"), "edit_contact", nullptr},
        {&MainWindow::m_deleteContactAction, "deleteContactAction", QT_TR_NOOP("删除联系人"),
         QT_TR_NOOP("删除选中的联系人信息"), "delete_contact", nullptr, QKeySequence::Delete},
        {&MainWindow::m_syncAction, "syncAction", QT_TR_NOOP("同步联系人"),
         QT_TR_NOOP("与中央服务器同步您的联系人信息，快捷键CTL + C"), "network",
         &MainWindow::syncDatabase, QKeySequence::UnknownKey, "CTRL+C"},
        {&MainWindow::m_settingsAction, "settingsAction", QT_TR_NOOP("设置..."),
         QT_TR_NOOP("设置..."), "settings", &MainWindow::settingsActionSlot},
        {&MainWindow::m_printAction, "printAction", QT_TR_NOOP("打印..."),
         QT_TR_NOOP("打印选中的联系人或者所有的联系人信息"), "print", &MainWindow::printActionSlot,
         QKeySequence::Print},
        {&MainWindow::m_quitAction, "quitAction", QT_TR_NOOP("退出"),
         QT_TR_NOOP("退出程序 快捷键 CTRL + Q"), "exit", &MainWindow::handleQuitSlot,
         QKeySequence::UnknownKey, "CTRL+Q"},
        {&MainWindow::m_newAccountAction, "newAccountAction", QT_TR_NOOP("新建帐户"),
         QT_TR_NOOP("创建一个新的帐户"), nullptr, &MainWindow::newAccountSlot},
        {&MainWindow::m_deleteAccountAction, "deleteAccountAction", QT_TR_NOOP("删除帐户"),
         QT_TR_NOOP("删除当前的帐户"), nullptr, &MainWindow::deleteAccountSlot},
        {&MainWindow::m_exportSelectedPdfAction, "exportSelectedPdfAction",
         QT_TR_NOOP("选中的联系人"), QT_TR_NOOP("将选中的联系人导出到PDF文件"), nullptr,
         &MainWindow::exportSelectedPdf},
        {&MainWindow::m_exportAllPdfAction, "exportAllPdfAction", QT_TR_NOOP("全部联系人"),
         QT_TR_NOOP("将全部联系人导出到PDF文件"), nullptr, &MainWindow::exportAllPdf},
        {&MainWindow::m_exportDatabaseAction, "exportDatabaseAction", QT_TR_NOOP("数据库"),
         QT_TR_NOOP("导出数据库，包含所有的联系人"), nullptr, &MainWindow::exportDatabase},
        {&MainWindow::m_exportSelectedvCardAction, "exportSelectedvCardAction",
         QT_TR_NOOP("选中的联系人"), QT_TR_NOOP("将选中的联系人导出为电子商务卡片 (vCard)"),
         nullptr, &MainWindow::exportvCardSelSlot},
        {&MainWindow::m_exportAllvCardAction, "exportAllvCardAction", QT_TR_NOOP("全部联系人"),
         QT_TR_NOOP("将全部联系人导出为电子商务卡片 (vCard)"), nullptr,
         &MainWindow::exportvCardAllSlot},
        {&MainWindow::m_importvCardAction, "importvCardAction", QT_TR_NOOP("电子商务卡片 (vCard)"),
         QT_TR_NOOP("导入电子商务卡片 (vCard)"), nullptr, nullptr},
        {&MainWindow::m_importDatabaseAction, "importDatabaseAction", QT_TR_NOOP("数据库"),
         QT_TR_NOOP("导入一个数据库，包含所有联系人"), nullptr, &MainWindow::importDatabase},
        {&MainWindow::m_aboutAction, "aboutAction", QT_TR_NOOP("关于"), nullptr, nullptr,
         &MainWindow::aboutSlot},
        {&MainWindow::m_documentationAction, "documentationAction", QT_TR_NOOP("在线文档"),
         QT_TR_NOOP("在浏览器中浏览文档"), nullptr, &MainWindow::documentationSlot},
        {&MainWindow::m_updateAction, "updateAction", QT_TR_NOOP("检测更新"),
         QT_TR_NOOP("检测软件更新..."), nullptr, &MainWindow::updateSlot},
        {&MainWindow::m_reportBugAction, "reportBugAction", QT_TR_NOOP("报告程序缺陷"),
         QT_TR_NOOP("通过报告程序缺陷和漏洞来帮助我们改善澄岚联系人管理器"), nullptr,
         &MainWindow::reportBugSlot},
        {&MainWindow::m_askAction, "askAction", QT_TR_NOOP("提问"),
         QT_TR_NOOP("询问关于澄岚联系人管理器的问题"), nullptr, &MainWindow::askSlot},
        {&MainWindow::m_featureRequestAction, "featureRequestAction", QT_TR_NOOP("特色需求"),
         QT_TR_NOOP("您的想法将有助于我们改善软件"), nullptr, &MainWindow::featureRequestSlot},
        {&MainWindow::m_showAction, "showAction", QT_TR_NOOP("显示澄岚联系人管理器"), nullptr,
         nullptr, &MainWindow::show},
        {&MainWindow::m_hideAction, "hideAction", QT_TR_NOOP("隐藏澄岚联系人管理器"), nullptr,
         nullptr, &MainWindow::hide},
    };
    for (const Row &row : rows) {
        auto *action = new QAction(tr(row.text), this);
        action->setObjectName(QLatin1String(row.name));
        if (row.statusTip)
            action->setStatusTip(tr(row.statusTip));
        if (row.icon)
            action->setIcon(QIcon(QStringLiteral(":/icons/%1.png").arg(QLatin1String(row.icon))));
        if (row.key != QKeySequence::UnknownKey)
            action->setShortcut(row.key);
        else if (row.keys)
            action->setShortcut(QKeySequence(QLatin1String(row.keys)));
        if (row.slot)
            connect(action, &QAction::triggered, this, row.slot);
        this->*row.action = action;
    }
    m_deleteAccountAction->setEnabled(false);
    m_accountGroup = new QActionGroup(this);
    m_accountGroup->setObjectName(QStringLiteral("accountActionGroup"));
    m_accountGroup->setExclusive(true);
}

void MainWindow::createMenus()
{
    m_fileMenu = menuBar()->addMenu(tr("文件"));
    m_fileMenu->setObjectName(QStringLiteral("fileMenu"));
    m_fileMenu->addAction(m_newContactAction);
    m_fileMenu->addSeparator();
    m_fileMenu->addAction(m_syncAction);
    m_fileMenu->addAction(m_printAction);
    m_fileMenu->addSeparator();
    m_importMenu = m_fileMenu->addMenu(tr("导入"));
    m_importMenu->setObjectName(QStringLiteral("importMenu"));
    m_exportMenu = m_fileMenu->addMenu(tr("导出"));
    m_exportMenu->setObjectName(QStringLiteral("exportMenu"));
    m_fileMenu->addSeparator();
    m_fileMenu->addAction(m_quitAction);

    m_editMenu = menuBar()->addMenu(tr("编辑"));
    m_editMenu->setObjectName(QStringLiteral("editMenu"));
    m_editMenu->addAction(m_editContactAction);
    m_editMenu->addAction(m_deleteContactAction);
    m_editMenu->addSeparator();
    m_editMenu->addAction(m_settingsAction);

    m_accountMenu = menuBar()->addMenu(tr("帐户"));
    m_accountMenu->setObjectName(QStringLiteral("accountMenu"));
    m_accountMenu->addAction(m_newAccountAction);
    m_accountMenu->addAction(m_deleteAccountAction);
    m_accountMenu->addSeparator();

    m_helpMenu = menuBar()->addMenu(tr("帮助"));
    m_helpMenu->setObjectName(QStringLiteral("helpMenu"));
    m_helpMenu->addAction(m_aboutAction);
    m_helpMenu->addAction(m_documentationAction);
    m_helpMenu->addSeparator();
    m_helpMenu->addAction(m_reportBugAction);
    m_helpMenu->addAction(m_askAction);
    m_helpMenu->addAction(m_featureRequestAction);
    m_helpMenu->addSeparator();
    m_helpMenu->addAction(m_updateAction);

    m_importMenu->addAction(m_importvCardAction);
    m_importMenu->addAction(m_importDatabaseAction);
    m_pdfMenu = m_exportMenu->addMenu(tr("PDF"));
    m_pdfMenu->setObjectName(QStringLiteral("pdfMenu"));
    m_vCardMenu = m_exportMenu->addMenu(tr("电子商务卡 (vCard)"));
    m_vCardMenu->setObjectName(QStringLiteral("vCardMenu"));
    m_exportMenu->addAction(m_exportDatabaseAction);
    m_pdfMenu->addAction(m_exportSelectedPdfAction);
    m_pdfMenu->addAction(m_exportAllPdfAction);
    m_vCardMenu->addAction(m_exportSelectedvCardAction);
    m_vCardMenu->addAction(m_exportAllvCardAction);
}

void MainWindow::createToolBar()
{
    m_toolBar = new QToolBar(tr("菜单"), this);
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setMovable(false);
    addToolBar(Qt::LeftToolBarArea, m_toolBar);
    m_toolBar->addAction(m_newContactAction);
    m_toolBar->addAction(m_editContactAction);
    m_toolBar->addAction(m_deleteContactAction);
    m_toolBar->addSeparator();
    m_toolBar->addAction(m_syncAction);
    m_toolBar->addAction(m_settingsAction);
    m_toolBar->addAction(m_printAction);
    m_toolBar->addSeparator();
    m_toolBar->addAction(m_quitAction);
}

void MainWindow::createTrayIcon()
{
    m_trayMenu = new QMenu(this);
    m_trayMenu->setObjectName(QStringLiteral("trayMenu"));
    m_trayMenu->addAction(m_showAction);
    m_trayMenu->addAction(m_hideAction);
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(m_quitAction);

    m_trayIcon = new QSystemTrayIcon(QIcon(QStringLiteral(":/icons/pelicard.png")), this);
    m_trayIcon->setObjectName(QStringLiteral("trayIcon"));
    m_trayIcon->setToolTip(tr("澄岚联系人管理器"));
    m_trayIcon->setContextMenu(m_trayMenu);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::trayActivated);
    m_trayIcon->show();
}

void MainWindow::connectContactPage()
{
    AddressWidget *address = m_mainWidget->addressWidget();
    connect(m_newContactAction, &QAction::triggered, address, &AddressWidget::addContact);
    connect(m_editContactAction, &QAction::triggered, address, &AddressWidget::editContactSlot);
    connect(address, &AddressWidget::updateActionsSignal, this, &MainWindow::updateActions);
    connect(m_deleteContactAction, &QAction::triggered, address, &AddressWidget::deleteContactSlot);
    connect(address, &AddressWidget::editModeSignal, this, &MainWindow::handleEditModeSlot);
    connect(address, &AddressWidget::addContactListSignal, m_mainWidget->contactListWidget(),
            &ContactListWidget::addContact);
    connect(m_mainWidget->searchWidget()->lineEdit(), &QLineEdit::textChanged, address,
            &AddressWidget::searchSlot);
    connect(m_importvCardAction, &QAction::triggered, address, &AddressWidget::importvCard);
    connect(address, &AddressWidget::statusMessage, this,
            [this](const QString &text) { statusBar()->showMessage(text); });
    connect(address, &AddressWidget::passwordAccepted, this, [this] {
        setNoAccountState(false);
        m_settingsWidget->loadSettings();
        updateActions();
    });
    connect(address, &AddressWidget::passwordCanceled, this, [this] { setNoAccountState(true); });
}

void MainWindow::createPages()
{
    m_settingsWidget = new SettingsWidget(m_session, this);
    m_printWidget = new PrintWidget(m_session, m_mainWidget->contactListWidget(), this);
    connect(m_settingsWidget->backButton(), &QPushButton::clicked, this,
            &MainWindow::settingsActionSlot);
    connect(m_printWidget->backButton(), &QPushButton::clicked, this, &MainWindow::printActionSlot);
    connect(m_printWidget->printButton(), &QPushButton::clicked, this, &MainWindow::printSlot);

    m_stack = new QStackedWidget;
    m_stack->setObjectName(QStringLiteral("pageStack"));
    m_stack->addWidget(m_mainWidget);
    m_stack->addWidget(m_settingsWidget);
    m_stack->addWidget(m_printWidget);
    auto *central = new QWidget;
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_stack);
    setCentralWidget(central);
}

int MainWindow::currentPage() const
{
    return m_stack->currentIndex();
}

QString MainWindow::currentDatabase() const
{
    return m_session->name();
}

QString MainWindow::accountType() const
{
    return m_session->type();
}

QString MainWindow::serverPassword() const
{
    return m_session->serverPassword();
}

quint64 MainWindow::localRevision() const
{
    return m_session->localRevision();
}

NewAccountWidget *MainWindow::newAccountWidget() const
{
    return m_newAccountWidget;
}

void MainWindow::readSettings()
{
    const QByteArray geometry = Accounts::windowGeometry();
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
}

void MainWindow::writeSettings()
{
    bool written = Accounts::setWindowGeometry(saveGeometry());
    if (!currentDatabase().isEmpty())
        written = Accounts::setCurrent(currentDatabase()) && written;
    written = m_settingsWidget->saveSettings() && written;
    if (!written)
        showSettingsError();
}

void MainWindow::showSettingsError()
{
    Dialogs::instance().critical(this, tr("设置出错"), Accounts::errorString());
}

void MainWindow::setAsideUnreadableSettings()
{
    // Before anything reads the store: unread, it would pass for a first start.
    const QString error = Accounts::readError();
    if (error.isEmpty())
        return;
    QString aside;
    if (Accounts::setAsideUnreadableStore(&aside))
        Dialogs::instance().warning(this, tr("设置出错"),
                                    error + u'\n' + tr("原文件已移至 %1").arg(aside));
    else
        showSettingsError();
}

void MainWindow::checkAccounts()
{
    m_noAccountAtStart = Accounts::count() == 0;
    // Shown first in both cases, so that at a first start the wizard stands in front of it.
    show();
    if (m_noAccountAtStart)
        newAccountSlot();
}

void MainWindow::rebuildAccountMenu()
{
    const int count = Accounts::count();
    const QStringList names = Accounts::names();
    setNoAccountState(count < 1);

    qDeleteAll(m_accountActions);
    m_accountActions.clear();
    for (const QString &name : names) {
        auto *action = new QAction(menuText(name), this);
        action->setObjectName(QStringLiteral("accountAction"));
        action->setData(name);
        action->setCheckable(true);
        m_accountGroup->addAction(action);
        connect(action, &QAction::triggered, this, &MainWindow::accountChangeSlot);
        m_accountMenu->addAction(action);
        m_accountActions.append(action);
        if (name == currentDatabase())
            action->setChecked(true);
    }
}

bool MainWindow::accountUsable() const
{
    // A protected account shows nothing, and lets nothing be changed, until it is unlocked.
    return Accounts::count() > 0 && (!m_session->usesPassword() || m_session->isUnlocked());
}

void MainWindow::setNoAccountState(bool none)
{
    // Nothing that would leave or change the account starts while an exchange runs.
    const bool enabled = !none && accountUsable() && !m_network->isBusy();
    for (QAction *action : {m_newContactAction, m_editContactAction, m_deleteContactAction,
                            m_printAction, m_settingsAction, m_deleteAccountAction})
        action->setEnabled(enabled);
    m_exportMenu->menuAction()->setEnabled(enabled);
    m_importMenu->menuAction()->setEnabled(enabled);
    m_syncAction->setEnabled(enabled && m_session->isNetwork());
}

void MainWindow::accountChangeSlot()
{
    QAction *checked = m_accountGroup->checkedAction();
    if (!checked)
        checked = qobject_cast<QAction *>(sender());
    if (!checked)
        return;
    // First, as the store names the account that opens; one that cannot be named stays shut.
    if (!Accounts::setCurrent(checked->data().toString())) {
        showSettingsError();
        for (QAction *action : std::as_const(m_accountActions))
            if (action->data().toString() == currentDatabase())
                action->setChecked(true);
        return;
    }
    openAccount();
}

void MainWindow::openAccount()
{
    if (m_session->isNetwork())
        sendGoodbye();
    AddressWidget *address = m_mainWidget->addressWidget();
    QLineEdit *search = m_mainWidget->searchWidget()->lineEdit();
    address->closeDatabase();
    search->clear();
    if (address->openDatabase())
        address->loadList();
    search->setFocus();
    // Back on the contact page before the actions are judged, or they would still follow the
    // page just left.
    showPage(ContactPage);
    // Entries are not rebuilt here: the one triggered may be what runs this.
    for (QAction *action : std::as_const(m_accountActions))
        if (action->data().toString() == currentDatabase())
            action->setChecked(true);
    setNoAccountState(Accounts::count() < 1);
    loadAccountSettings();
    updateActions();
}

void MainWindow::loadAccountSettings()
{
    // The session took the account's keys when it opened the account.
    const bool network = m_session->isNetwork();
    m_mainWidget->addressWidget()->clearForm();
    m_syncAction->setEnabled(network && accountUsable());
    m_importDatabaseAction->setEnabled(!network);
    if (network)
        sendHello();
    m_settingsWidget->loadSettings();
}

void MainWindow::sendHello()
{
    m_network->sendHello();
}

void MainWindow::sendGoodbye()
{
    // Leaving wins over whatever still runs.
    m_network->abort();
    QEventLoop loop;
    bool ended = false;
    m_network->sendGoodbye(this, [&] {
        ended = true;
        loop.quit();
    });
    if (!ended)
        loop.exec();
    // A loop ended by the program's exit leaves the farewell behind; its continuation must not
    // outlive the loop.
    if (!ended)
        m_network->abort();
}

void MainWindow::syncDatabase()
{
    if (!m_session->isNetwork() || m_network->isBusy())
        return;
    m_network->syncDatabase(this, [this] {
        // A contact being typed stays; the one shown may be gone.
        if (!m_mainWidget->addressWidget()->isEditable())
            m_mainWidget->addressWidget()->clearForm();
        QLineEdit *search = m_mainWidget->searchWidget()->lineEdit();
        search->clear();
        search->setFocus();
        updateActions();
    });
}

void MainWindow::networkBusySlot(bool busy)
{
    for (QAction *action :
         {m_newContactAction, m_editContactAction, m_deleteContactAction, m_syncAction,
          m_newAccountAction, m_deleteAccountAction, m_importvCardAction})
        action->setEnabled(!busy);
    m_accountGroup->setEnabled(!busy);
    if (busy)
        return;
    setNoAccountState(Accounts::count() < 1);
    if (m_mainWidget->addressWidget()->isEditable())
        handleEditModeSlot(true);
    else
        updateActions();
}

bool MainWindow::contactSelected() const
{
    return m_mainWidget->contactListWidget()->hasSelection();
}

void MainWindow::updateActions()
{
    // An exchange running holds every change until it ends.
    const bool pageShown = m_settingsShown || m_printShown || m_network->isBusy();
    const bool onContact =
        m_mainWidget->contactListWidget()->count() > 0 && contactSelected() && !pageShown;
    m_editContactAction->setEnabled(onContact);
    m_deleteContactAction->setEnabled(onContact);
    m_newContactAction->setEnabled(!pageShown && accountUsable());
}

void MainWindow::handleEditModeSlot(bool activated)
{
    for (QAction *action : {m_newContactAction, m_editContactAction, m_deleteContactAction})
        action->setEnabled(!activated);
}

void MainWindow::showPage(Page page)
{
    m_stack->setCurrentIndex(page);
    m_settingsShown = page == SettingsPage;
    m_printShown = page == PrintPage;
}

void MainWindow::settingsActionSlot()
{
    if (m_printShown) {
        m_printShown = false;
        settingsActionSlot();
        updateActions();
    } else if (m_settingsShown) {
        // Left open when the values could not be stored, so that they are not taken as stored.
        if (!m_settingsWidget->saveSettings()) {
            showSettingsError();
            return;
        }
        showPage(ContactPage);
        updateActions();
    } else {
        showPage(SettingsPage);
        updateActions();
    }
}

void MainWindow::printActionSlot()
{
    if (m_settingsShown) {
        m_settingsShown = false;
        printActionSlot();
        updateActions();
    } else if (m_printShown) {
        showPage(ContactPage);
        updateActions();
    } else {
        showPage(PrintPage);
        m_printWidget->refresh();
        updateActions();
    }
}

bool MainWindow::systemTrayAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void MainWindow::showTrayMessage(const QString &title, const QString &text, int msecs)
{
    m_trayIcon->showMessage(title, text, QSystemTrayIcon::NoIcon, msecs);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!isVisible()) {
        writeSettings();
        event->accept();
        return;
    }
    if (!systemTrayAvailable()) {
        event->accept();
        handleQuitSlot();
        return;
    }
    hide();
    showTrayMessage(tr("澄岚联系人管理器"), tr("正在运行..."), 10000);
    event->ignore();
}

void MainWindow::trayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::DoubleClick)
        setVisible(!isVisible());
}

void MainWindow::handleQuitSlot()
{
    if (m_session->isNetwork())
        sendGoodbye();
    writeSettings();
    // Not quit(): that asks every window to close, and this one only hides.
    QCoreApplication::exit(0);
}

void MainWindow::newAccountSlot()
{
    if (m_newAccountWidget) {
        m_newAccountWidget->raise();
        m_newAccountWidget->activateWindow();
        return;
    }
    m_newAccountWidget = new NewAccountWidget;
    connect(m_newAccountWidget, &NewAccountWidget::completeSignal, this,
            &MainWindow::newAccountCompleteSlot);
    connect(m_newAccountWidget, &NewAccountWidget::cancelNewAccSlot, this,
            &MainWindow::newAccountCancSlot);
    if (isVisible()) {
        m_newAccountWidget->adjustSize();
        m_newAccountWidget->move(frameGeometry().center() - m_newAccountWidget->rect().center());
    }
    m_newAccountWidget->show();
}

void MainWindow::disposeOfWizard()
{
    if (!m_newAccountWidget)
        return;
    // The wizard's own signal is still being delivered.
    m_newAccountWidget->hide();
    m_newAccountWidget->deleteLater();
    m_newAccountWidget = nullptr;
}

void MainWindow::newAccountCompleteSlot()
{
    disposeOfWizard();
    m_noAccountAtStart = false;
    rebuildAccountMenu();
    openAccount();
    show();
}

void MainWindow::newAccountCancSlot()
{
    if (m_noAccountAtStart) {
        QCoreApplication::exit(0);
        return;
    }
    disposeOfWizard();
}

void MainWindow::exportvCardSelSlot()
{
    if (!contactSelected()) {
        Dialogs::instance().warning(this, tr("导出警告"), tr("导出中断:\n没有选择联系人!"));
        return;
    }
    m_mainWidget->addressWidget()->exportvCard(false);
}

void MainWindow::exportvCardAllSlot()
{
    m_mainWidget->addressWidget()->exportvCard(true);
}

void MainWindow::exportSelectedPdf()
{
    if (!contactSelected()) {
        Dialogs::instance().warning(this, tr("导出警告"), tr("导出中断:\n没有选择联系人!"));
        return;
    }
    m_mainWidget->addressWidget()->printContacts(AddressWidget::SelectedContacts, true);
}

void MainWindow::exportAllPdf()
{
    m_mainWidget->addressWidget()->printContacts(AddressWidget::AllContacts, true);
}

void MainWindow::printSlot()
{
    AddressWidget *address = m_mainWidget->addressWidget();
    if (m_printWidget->selectedRadioButton()->isChecked() && m_printWidget->selectedId() >= 0) {
        address->printContacts(AddressWidget::SelectedContacts, false);
        printActionSlot();
    } else if (!m_printWidget->allRadioButton()->isChecked()) {
        Dialogs::instance().warning(this, tr("打印警告"), tr("打印中断:\n没有选择联系人!"));
    } else {
        address->printContacts(AddressWidget::AllContacts, false);
        printActionSlot();
    }
}

void MainWindow::exportDatabase()
{
    if (!accountUsable())
        return;
    const QString chosen = Dialogs::instance().saveFileName(
        this, tr("导出数据库文件"), QDir::homePath(), tr("SQLITE 文件 (*.sqlite)"));
    if (chosen.isEmpty())
        return;
    DatabaseFile file(m_session->databasePath());
    if (!file.copyTo(FileNames::withSuffix(chosen, QStringLiteral(".sqlite")))) {
        qCWarning(lcUi) << "database export:" << file.errorString();
        Dialogs::instance().critical(this, tr("数据库导出出错"), tr("在导出数据库时产生错误!"));
        return;
    }
    statusBar()->showMessage(tr("数据库导出成功!"));
}

void MainWindow::importDatabase()
{
    // Each of a network account's changes needs the server's answer.
    if (m_session->isNetwork() || !accountUsable())
        return;
    const QString chosen = Dialogs::instance().openFileName(
        this, tr("导入数据库"), QDir::homePath(), tr("SQLITE 文件 (*.sqlite)"));
    if (chosen.isEmpty())
        return;
    if (Dialogs::instance().question(this, tr("导入数据库"),
                                     tr("您真的要将当前数据库替换为外部数据库吗?"),
                                     QMessageBox::Warning) != QMessageBox::Yes)
        return;
    // Checked before anything is let go: a file of another kind would leave the account empty.
    if (DatabaseFile source(chosen); !source.isContactsDatabase()) {
        Dialogs::instance().critical(
            this, tr("文件错误"), tr("所选文件不是联系人数据库!") + u'\n' + source.errorString());
        return;
    }
    QFile source(chosen);
    DatabaseReplacement replacement(m_session->databasePath());
    if (!source.open(QIODevice::ReadOnly) || !replacement.open() ||
        !replacement.copyFrom(&source)) {
        const QString reason = source.error() != QFileDevice::NoError ? source.errorString()
                                                                      : replacement.errorString();
        Dialogs::instance().critical(this, tr("文件错误"), tr("无法写入数据库!") + u'\n' + reason);
        return;
    }
    // The old file stays, open, unless the new one took its place.
    if (!m_session->replaceDatabase(replacement)) {
        Dialogs::instance().critical(this, tr("文件错误"),
                                     tr("无法删除数据库!") + u'\n' + m_session->errorString());
        return;
    }
    m_mainWidget->addressWidget()->clearForm();
    QLineEdit *search = m_mainWidget->searchWidget()->lineEdit();
    search->clear();
    search->setFocus();
    updateActions();
    statusBar()->showMessage(tr("数据库导入成功!"));
}

void MainWindow::deleteAccountSlot()
{
    const QString name = currentDatabase();
    if (name.isEmpty() ||
        Dialogs::instance().question(this, tr("删除帐户"), tr("您真的要删除  %1?").arg(name),
                                     QMessageBox::Warning) != QMessageBox::Yes)
        return;
    const QString path = m_session->databasePath();
    // Nothing goes to the server: its contacts are not the account's to delete. The registry
    // first: a file removed while its account stays listed could never be opened again.
    m_mainWidget->addressWidget()->closeDatabase();
    if (!Accounts::remove(name)) {
        showSettingsError();
        openAccount();
        return;
    }
    if (DatabaseFile file(path); QFileInfo::exists(path) && !file.remove())
        Dialogs::instance().warning(this, tr("文件错误"),
                                    tr("无法删除数据库文件 %1: %2")
                                        .arg(QDir::toNativeSeparators(path), file.errorString()));
    rebuildAccountMenu();
    openAccount();
}

// The help entries open the maker's pages; whether a browser came up is not ours to judge.
void MainWindow::documentationSlot()
{
    QDesktopServices::openUrl(Links::webPage(Links::DocumentationPath));
}

void MainWindow::reportBugSlot()
{
    QDesktopServices::openUrl(Links::webPage(Links::BugReportPath));
}

void MainWindow::askSlot()
{
    QDesktopServices::openUrl(Links::webPage(Links::AskPath));
}

void MainWindow::featureRequestSlot()
{
    QDesktopServices::openUrl(Links::webPage(Links::FeatureRequestPath));
}

void MainWindow::updateSlot()
{
    m_updateCheck->start();
}

void MainWindow::updateDoneSlot(bool error)
{
    if (error) {
        statusBar()->showMessage(tr("检查更新时有错误产生..."));
        return;
    }
    if (m_updateCheck->build() <= Build) {
        statusBar()->showMessage(tr("没有软件更新!"));
        return;
    }
    const QMessageBox::StandardButton answer = Dialogs::instance().question(
        this, tr("澄岚联系人管理器更新"), tr("有新版本更新!\n您要下载新版本吗?"));
    const QUrl download = Links::webPage(Links::DownloadPath);
    statusBar()->showMessage(tr("从 %1 下载最新版本").arg(download.toString()));
    if (answer == QMessageBox::Yes)
        QDesktopServices::openUrl(download);
}

void MainWindow::aboutSlot()
{
    auto *dialog = new AboutDialog(m_version, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->exec();
}
