#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStackedWidget;
class QToolButton;

// First page of the new-account wizard: name, kind and optional password.
class Page_1 : public QWidget
{
    Q_OBJECT
public:
    explicit Page_1(QWidget *parent = nullptr);

    QString accountName() const;
    bool isLocal() const;
    bool usePassword() const;
    QString password() const;

    // Why the name field's text cannot be an account name; empty when it can.
    static QString nameProblemText(const QString &name);

signals:
    void nextSignal();
    void cancelSignal();

public slots:
    void helpToolButtonSlot();
    void updateNextButtonSlot();

private:
    QLineEdit *m_name;
    QRadioButton *m_local;
    QRadioButton *m_network;
    QToolButton *m_help;
    QCheckBox *m_usePassword;
    QLineEdit *m_password;
    QPushButton *m_cancel;
    QPushButton *m_next;
};

// Last page for a local account.
class LocalPage : public QWidget
{
    Q_OBJECT
public:
    explicit LocalPage(QWidget *parent = nullptr);

    QPushButton *finishButton() const { return m_finish; }

signals:
    void createLocalAccountSignal();

private:
    QPushButton *m_finish;
};

// Server address, port and password of a network account.
class NetworkPage : public QWidget
{
    Q_OBJECT
public:
    explicit NetworkPage(QWidget *parent = nullptr);

    QString host() const; // four decimal numbers, leading zeros dropped
    int port() const;
    QString password() const;
    // The host field holds four numbers from 0 to 255.
    bool hostIsComplete() const;

signals:
    void cancelSignal();
    void createNetworkAccountSignal();

public slots:
    void updateNextButtonSlot();

private:
    QLineEdit *m_host;
    QSpinBox *m_port;
    QLineEdit *m_password;
    QPushButton *m_cancel;
    QPushButton *m_next;
};

// The new-account wizard: a top-level, application-modal window that ends only through its
// own buttons.
class NewAccountWidget : public QWidget
{
    Q_OBJECT
public:
    explicit NewAccountWidget(QWidget *parent = nullptr);

    // Creates the named account's database file with the contacts table; on failure tells
    // the user and ends the program.
    bool createDatabase(const QString &name);

    Page_1 *page1() const { return m_page1; }
    LocalPage *localPage() const { return m_localPage; }
    NetworkPage *networkPage() const { return m_networkPage; }
    int currentPage() const;

signals:
    void completeSignal();
    void cancelNewAccSlot();

private slots:
    void handlePage_1();
    void createLocalAccountSlot();
    void createNetworkAccountSlot();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    bool createAccount(bool network);
    bool refuseTakenName(const QString &name);

    QStackedWidget *m_stack;
    Page_1 *m_page1;
    LocalPage *m_localPage;
    NetworkPage *m_networkPage;
};
