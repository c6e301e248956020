#pragma once

#include <QMainWindow>
#include <QSystemTrayIcon>
#include <QTimer>

class QAction;
class QMenu;
class Server;
class ServerWidget;

// The server's window: port and password, start and stop of listening, the client count, the
// database maintenance actions and the tray icon.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The count label is repainted at most this often: repainting it for every greeting cost
    // more than serving the greeting.
    static constexpr int CountRefreshMs = 100;

    ServerWidget *serverWidget() const { return m_serverWidget; }
    Server *server() const { return m_server; }
    QSystemTrayIcon *trayIcon() const { return m_trayIcon; }

protected:
    void closeEvent(QCloseEvent *event) override;
    // Without a tray a hidden window could never be reached again.
    virtual bool trayAvailable() const;

private slots:
    void quitSlot();
    void startSlot();
    void stopSlot();
    void documentationSlot();
    void trayActivated(QSystemTrayIcon::ActivationReason reason);
    void resetDatabaseSlot();
    void exportDbSlot();
    void importDbSlot();

private:
    void createActions();
    void createMenus();
    void createTrayIcon();
    void initialiseDatabase();
    void loadSettings();
    // False, after a box saying so, when the store could not be written.
    bool saveSettings();
    bool clientsConnected() const;
    // The question asked before stopping or quitting while clients are counted.
    bool confirmDisconnect();
    void setListening(bool listening);
    void showCritical(const QString &title, const QString &text);
    void showCount();
    void showProblem(const QString &title, const QString &text);
    void quitApplication();

    ServerWidget *m_serverWidget = nullptr;
    Server *m_server = nullptr;
    QAction *m_importAction = nullptr;
    QAction *m_exportAction = nullptr;
    QAction *m_quitAction = nullptr;
    QAction *m_resetAction = nullptr;
    QAction *m_documentationAction = nullptr;
    QAction *m_showAction = nullptr;
    QAction *m_hideAction = nullptr;
    QMenu *m_fileMenu = nullptr;
    QMenu *m_editMenu = nullptr;
    QMenu *m_helpMenu = nullptr;
    QMenu *m_trayMenu = nullptr;
    QSystemTrayIcon *m_trayIcon = nullptr;
    QTimer m_countTimer;
    int m_clientCount = 0; // as the server last signalled it
    // Boxes raised while the window is being built do not wait: nobody may be there to answer.
    bool m_constructing = true;
    bool m_quitting = false;
};
