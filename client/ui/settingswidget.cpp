#include "settingswidget.h"

#include "accounts.h"
#include "accountsession.h"
#include "dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

const QString SettingsWidget::Placeholder = QStringLiteral("password");

namespace {

template <typename T> T *named(T *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QLineEdit *passwordEdit(const char *name)
{
    auto *edit = named(new QLineEdit, name);
    edit->setEchoMode(QLineEdit::Password);
    return edit;
}

// A label that names its field for the accessibility layer too.
QLabel *labelFor(const QString &text, QWidget *field)
{
    auto *label = new QLabel(text);
    label->setBuddy(field);
    field->setAccessibleName(text.trimmed().chopped(1));
    return label;
}

} // namespace

SettingsWidget::SettingsWidget(AccountSession *session, QWidget *parent)
    : QWidget(parent), m_session(session), m_updates(named(new QComboBox, "updatesComboBox")),
      m_background(named(new QComboBox, "backgroundComboBox")),
      m_usePassword(named(new QCheckBox(tr("为帐户启用密码保护: ")), "usePasswordCheckBox")),
      m_password(passwordEdit("passwordEdit")),
      m_server(named(new QGroupBox(tr("服务器设置")), "serverGroupBox")),
      m_host(named(new QLineEdit, "hostEdit")), m_port(named(new QSpinBox, "portSpinBox")),
      m_serverPassword(passwordEdit("serverPasswordEdit")),
      m_back(named(new QPushButton(tr("后退")), "settingsBackButton"))
{
    setObjectName(QStringLiteral("settingsWidget"));
    m_updates->addItems({tr("启动时"), tr("手动")});
    m_background->addItems({tr("启用"), tr("禁用")});
    m_password->setAccessibleName(tr("帐户密码"));
    m_port->setRange(60, 65535);
    m_port->setValue(Accounts::DefaultPort);

    auto *header = new QLabel(tr("<h3>澄岚联系人管理器 设置</h3>"));
    header->setAlignment(Qt::AlignHCenter);
    auto *options = new QGridLayout;
    options->addWidget(labelFor(tr("检查更新: "), m_updates), 0, 0);
    options->addWidget(m_updates, 0, 1);
    options->addWidget(labelFor(tr("半透明背景: "), m_background), 1, 0);
    options->addWidget(m_background, 1, 1);
    options->addWidget(m_usePassword, 2, 0);
    options->addWidget(m_password, 2, 1);
    auto *server = new QGridLayout(m_server);
    server->addWidget(labelFor(tr("服务器地址: "), m_host), 0, 0);
    server->addWidget(m_host, 0, 1);
    server->addWidget(labelFor(tr("端口: "), m_port), 1, 0);
    server->addWidget(m_port, 1, 1);
    server->addWidget(labelFor(tr("服务器密码: "), m_serverPassword), 2, 0);
    server->addWidget(m_serverPassword, 2, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_back);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(header);
    layout->addLayout(options);
    layout->addWidget(m_server);
    layout->addStretch();
    layout->addLayout(buttons);

    connect(m_usePassword, &QCheckBox::toggled, m_password, &QLineEdit::setEnabled);
    connect(m_usePassword, &QCheckBox::toggled, m_password, &QLineEdit::clear);
    connect(m_serverPassword, &QLineEdit::editingFinished, this,
            &SettingsWidget::restartMessageSlot);
    connect(m_host, &QLineEdit::editingFinished, this, &SettingsWidget::restartMessageSlot);

    loadSettings();
}

void SettingsWidget::loadSettings()
{
    m_updates->setCurrentIndex(Accounts::checkUpdates() ? 0 : 1);
    m_background->setCurrentIndex(Accounts::blurBackground() ? 0 : 1);

    const QString name = m_session->name();
    const bool protectedAccount = !name.isEmpty() && Accounts::usePassword(name);
    // Unchecked first, so that the toggle cannot clear the placeholder set after it.
    m_usePassword->setChecked(protectedAccount);
    m_usePassword->setEnabled(!name.isEmpty());
    m_password->setText(protectedAccount ? Placeholder : QString());
    m_password->setEnabled(protectedAccount);

    const bool network = !name.isEmpty() && Accounts::isNetwork(name);
    m_server->setEnabled(network);
    m_host->setText(network ? Accounts::host(name) : QString());
    m_port->setValue(network ? Accounts::port(name) : Accounts::DefaultPort);
    m_serverPassword->setText(network ? Placeholder : QString());
}

bool SettingsWidget::saveSettings()
{
    Accounts::Options options;
    options.checkUpdates = m_updates->currentIndex() == 0;
    options.blurBackground = m_background->currentIndex() == 0;
    const QString typed = m_password->text();
    options.usePassword = m_usePassword->isChecked() && !typed.isEmpty();
    if (typed != Placeholder)
        options.password = typed;
    const QString name = m_session->name();
    if (options.usePassword && !options.password && Accounts::passwordDigest(name).isEmpty()) {
        // With no digest to keep, nothing typed could ever open the account again.
        options.usePassword = false;
        m_usePassword->setChecked(false);
        Dialogs::instance().warning(this, tr("密码保护"),
                                    tr("\"%1\" 不能用作密码, 帐户未受密码保护。").arg(Placeholder));
    }
    options.host = m_host->text();
    options.port = m_port->value();
    if (m_serverPassword->text() != Placeholder)
        options.serverPassword = m_serverPassword->text();
    if (!Accounts::setOptions(name, options))
        return false;
    if (!name.isEmpty())
        m_session->setPasswordProtection(options.usePassword);
    return true;
}

void SettingsWidget::restartMessageSlot()
{
    Dialogs::instance().information(this, tr("需要重启"),
                                    tr("请重启澄岚联系人管理器以使新的配置生效"));
}
