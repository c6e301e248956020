#pragma once

#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>

class AccountSession;
class MainWidget;
class NetworkRunner;
class NewAccountWidget;
class PrintWidget;
class QAction;
class QActionGroup;
class QMenu;
class QStackedWidget;
class QToolBar;
class SettingsWidget;
class UpdateCheck;

// The client's window: actions, menus, tool bar, tray icon, the three pages, and the state of
// the current account.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    enum Page { ContactPage = 0, SettingsPage = 1, PrintPage = 2 };
    // This program's build; a higher number on the update page means a newer version.
    static constexpr int Build = 3;

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    QString version() const { return m_version; }
    AccountSession *session() const { return m_session; }
    QString currentDatabase() const;
    QString accountType() const;
    QString serverPassword() const;
    quint64 localRevision() const;
    bool settingsShown() const { return m_settingsShown; }
    bool printShown() const { return m_printShown; }
    bool noAccountAtStart() const { return m_noAccountAtStart; }

    MainWidget *mainWidget() const { return m_mainWidget; }
    SettingsWidget *settingsWidget() const { return m_settingsWidget; }
    PrintWidget *printWidget() const { return m_printWidget; }
    NewAccountWidget *newAccountWidget() const;
    QSystemTrayIcon *trayIcon() const { return m_trayIcon; }
    UpdateCheck *updateCheck() const { return m_updateCheck; }
    int currentPage() const;

    void checkAccounts();
    void rebuildAccountMenu();
    void setNoAccountState(bool none);

    // The greeting and the farewell of a network account. The farewell is awaited, with input
    // blocked and the window painting, for what follows it leaves the account.
    void sendHello();
    void sendGoodbye();
    NetworkRunner *network() const { return m_network; }

public slots:
    void updateActions();
    void newAccountCancSlot();

protected:
    void closeEvent(QCloseEvent *event) override;
    // Where the window goes when closed; a desktop without a tray could never show it again.
    virtual bool systemTrayAvailable() const;
    virtual void showTrayMessage(const QString &title, const QString &text, int msecs);

private slots:
    void handleEditModeSlot(bool activated);
    void settingsActionSlot();
    void printActionSlot();
    void trayActivated(QSystemTrayIcon::ActivationReason reason);
    void newAccountCompleteSlot();
    void handleQuitSlot();
    void newAccountSlot();
    void deleteAccountSlot();
    void accountChangeSlot();
    void printSlot();
    void exportSelectedPdf();
    void exportAllPdf();
    void exportDatabase();
    void importDatabase();
    void exportvCardSelSlot();
    void exportvCardAllSlot();
    void documentationSlot();
    void updateSlot();
    void updateDoneSlot(bool error);
    void aboutSlot();
    void reportBugSlot();
    void askSlot();
    void featureRequestSlot();
    void loadAccountSettings();
    void syncDatabase();
    void networkBusySlot(bool busy);

private:
    void createActions();
    void createMenus();
    void createToolBar();
    void createTrayIcon();
    void connectContactPage();
    void createPages();
    void readSettings();
    void writeSettings();
    void showSettingsError();
    void setAsideUnreadableSettings();
    void showPage(Page page);
    // Leaves the open account and opens the one the store names as current; every way of
    // changing accounts ends here.
    void openAccount();
    bool accountUsable() const;
    bool contactSelected() const;
    void disposeOfWizard();

    QString m_version;
    AccountSession *m_session = nullptr;
    NetworkRunner *m_network = nullptr;
    bool m_settingsShown = false;
    bool m_printShown = false;
    bool m_noAccountAtStart = false;

    MainWidget *m_mainWidget = nullptr;
    SettingsWidget *m_settingsWidget = nullptr;
    PrintWidget *m_printWidget = nullptr;
    QStackedWidget *m_stack = nullptr;
    QPointer<NewAccountWidget> m_newAccountWidget;
    UpdateCheck *m_updateCheck = nullptr;

    QAction *m_newContactAction = nullptr;
    QAction *m_editContactAction = nullptr;
    QAction *m_deleteContactAction = nullptr;
    QAction *m_syncAction = nullptr;
    QAction *m_settingsAction = nullptr;
    QAction *m_printAction = nullptr;
    QAction *m_quitAction = nullptr;
    QAction *m_newAccountAction = nullptr;
    QAction *m_deleteAccountAction = nullptr;
    QAction *m_exportSelectedPdfAction = nullptr;
    QAction *m_exportAllPdfAction = nullptr;
    QAction *m_exportDatabaseAction = nullptr;
    QAction *m_exportSelectedvCardAction = nullptr;
    QAction *m_exportAllvCardAction = nullptr;
    QAction *m_importvCardAction = nullptr;
    QAction *m_importDatabaseAction = nullptr;
    QAction *m_aboutAction = nullptr;
    QAction *m_documentationAction = nullptr;
    QAction *m_updateAction = nullptr;
    QAction *m_reportBugAction = nullptr;
    QAction *m_askAction = nullptr;
    QAction *m_featureRequestAction = nullptr;
    QAction *m_showAction = nullptr;
    QAction *m_hideAction = nullptr;
    QActionGroup *m_accountGroup = nullptr;
    QList<QAction *> m_accountActions;

    QMenu *m_fileMenu = nullptr;
    QMenu *m_importMenu = nullptr;
    QMenu *m_exportMenu = nullptr;
    QMenu *m_pdfMenu = nullptr;
    QMenu *m_vCardMenu = nullptr;
    QMenu *m_editMenu = nullptr;
    QMenu *m_accountMenu = nullptr;
    QMenu *m_helpMenu = nullptr;
    QToolBar *m_toolBar = nullptr;
    QSystemTrayIcon *m_trayIcon = nullptr;
    QMenu *m_trayMenu = nullptr;
};
