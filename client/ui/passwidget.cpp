#include "passwidget.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

PassWidget::PassWidget()
    : m_password(new QLineEdit), m_cancel(new QPushButton(tr("取消"))),
      m_verify(new QPushButton(tr("验证")))
{
    setObjectName(QStringLiteral("passWidget"));
    setWindowTitle(tr("请求密码"));
    setWindowModality(Qt::ApplicationModal);
    m_password->setObjectName(QStringLiteral("passwordEdit"));
    m_password->setEchoMode(QLineEdit::Password);
    m_cancel->setObjectName(QStringLiteral("passCancelButton"));
    m_verify->setObjectName(QStringLiteral("passVerifyButton"));
    m_verify->setDefault(true);

    auto *label = new QLabel(tr("密码: "));
    label->setBuddy(m_password);
    auto *field = new QHBoxLayout;
    field->addWidget(label);
    field->addWidget(m_password);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_verify);
    auto *layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(new QLabel(tr("<h3>帐户被密码保护</h3>")));
    layout->addLayout(field);
    layout->addLayout(buttons);

    connect(m_password, &QLineEdit::textChanged, this, &PassWidget::updateButtonsSlot);
    connect(m_password, &QLineEdit::returnPressed, m_verify, &QPushButton::click);
    updateButtonsSlot();
}

QString PassWidget::password() const
{
    return m_password->text();
}

void PassWidget::updateButtonsSlot()
{
    m_verify->setEnabled(!m_password->text().isEmpty());
}

void PassWidget::closeEvent(QCloseEvent *event)
{
    // Only the buttons end the prompt: closed, it would leave the account neither open nor shut.
    event->ignore();
}
