#pragma once

#include <QWidget>

class AccountSession;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

// The settings page of the main window: the program's options, and the open account's
// password protection and server. Only digests of the passwords are stored; a stored one is
// shown as the word Placeholder, which leaves it as it is.
class SettingsWidget : public QWidget
{
    Q_OBJECT
public:
    static const QString Placeholder; // "password"

    explicit SettingsWidget(AccountSession *session, QWidget *parent = nullptr);

    // Fills the controls from the store, and writes them back; false when the store refused
    // them (Accounts::errorString() says why), and then nothing of them is stored.
    void loadSettings();
    [[nodiscard]] bool saveSettings();

    QPushButton *backButton() const { return m_back; }

public slots:
    void restartMessageSlot();

private:
    AccountSession *m_session;
    QComboBox *m_updates;
    QComboBox *m_background;
    QCheckBox *m_usePassword;
    QLineEdit *m_password;
    QGroupBox *m_server;
    QLineEdit *m_host;
    QSpinBox *m_port;
    QLineEdit *m_serverPassword;
    QPushButton *m_back;
};
