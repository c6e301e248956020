#pragma once

#include <QWidget>

class QLineEdit;
class QPushButton;

// The prompt for a protected account's password: a window of its own, modal for the whole
// program, that only its buttons end.
class PassWidget : public QWidget
{
    Q_OBJECT
public:
    PassWidget();

    QString password() const;
    QLineEdit *passwordEdit() const { return m_password; }
    QPushButton *cancelButton() const { return m_cancel; }
    QPushButton *verifyButton() const { return m_verify; }

public slots:
    void updateButtonsSlot();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QLineEdit *m_password;
    QPushButton *m_cancel;
    QPushButton *m_verify;
};
