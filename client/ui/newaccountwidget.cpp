#include "newaccountwidget.h"

#include "accounts.h"
#include "contactstore.h"
#include "dialogs.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <cstdlib>

Page_1::Page_1(QWidget *parent)
    : QWidget(parent), m_name(new QLineEdit), m_local(new QRadioButton(tr("本地"))),
      m_network(new QRadioButton(tr("网络"))), m_help(new QToolButton),
      m_usePassword(new QCheckBox(tr("使用密码保护"))), m_password(new QLineEdit),
      m_cancel(new QPushButton(tr("取消"))), m_next(new QPushButton(tr("下一个 >")))
{
    setObjectName(QStringLiteral("page1"));
    m_name->setObjectName(QStringLiteral("accountNameEdit"));
    m_local->setObjectName(QStringLiteral("localRadioButton"));
    m_network->setObjectName(QStringLiteral("networkRadioButton"));
    m_help->setObjectName(QStringLiteral("helpToolButton"));
    m_usePassword->setObjectName(QStringLiteral("usePasswordCheckBox"));
    m_password->setObjectName(QStringLiteral("passwordEdit"));
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    m_next->setObjectName(QStringLiteral("nextButton"));

    m_local->setChecked(true);
    m_help->setIcon(QIcon(QStringLiteral(":/icons/help.png")));
    m_help->setIconSize(QSize(32, 32));
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setEnabled(false);
    m_next->setEnabled(false);

    auto *nameRow = new QHBoxLayout;
    nameRow->addWidget(new QLabel(tr("帐户名: ")));
    nameRow->addWidget(m_name);

    auto *typeBox = new QGroupBox;
    auto *typeLayout = new QHBoxLayout(typeBox);
    typeLayout->addWidget(m_local);
    typeLayout->addWidget(m_network);
    auto *typeRow = new QHBoxLayout;
    typeRow->addWidget(new QLabel(tr("帐户类型: ")));
    typeRow->addWidget(typeBox);
    typeRow->addWidget(m_help);

    auto *passwordRow = new QHBoxLayout;
    passwordRow->addWidget(m_usePassword);
    passwordRow->addWidget(m_password);

    auto *buttonRow = new QHBoxLayout;
    buttonRow->addWidget(m_cancel);
    buttonRow->addWidget(m_next);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(nameRow);
    layout->addStretch();
    layout->addLayout(typeRow);
    layout->addLayout(passwordRow);
    layout->addLayout(buttonRow);

    connect(m_cancel, &QPushButton::clicked, this, &Page_1::cancelSignal);
    connect(m_help, &QToolButton::clicked, this, &Page_1::helpToolButtonSlot);
    connect(m_usePassword, &QCheckBox::toggled, m_password, &QLineEdit::setEnabled);
    connect(m_next, &QPushButton::clicked, this, &Page_1::nextSignal);
    connect(m_name, &QLineEdit::textChanged, this, &Page_1::updateNextButtonSlot);
    connect(m_usePassword, &QCheckBox::toggled, this, &Page_1::updateNextButtonSlot);
    connect(m_password, &QLineEdit::textChanged, this, &Page_1::updateNextButtonSlot);
    updateNextButtonSlot();
}

QString Page_1::accountName() const
{
    return m_name->text();
}

bool Page_1::isLocal() const
{
    return m_local->isChecked();
}

bool Page_1::usePassword() const
{
    return m_usePassword->isChecked();
}

QString Page_1::password() const
{
    return m_password->text();
}

QString Page_1::nameProblemText(const QString &name)
{
    switch (Accounts::nameProblem(name)) {
    case Accounts::NameProblem::None:
        return QString();
    case Accounts::NameProblem::Empty:
        return tr("帐户名不能为空");
    case Accounts::NameProblem::Separator:
        return tr("帐户名不能包含 / 或 \\");
    case Accounts::NameProblem::DotName:
        return tr("帐户名不能是 . 或 ..");
    case Accounts::NameProblem::Reserved:
        return tr("此名字为程序保留, 请使用其他名字");
    case Accounts::NameProblem::TooLong:
        return tr("帐户名太长");
    }
    return QString();
}

void Page_1::helpToolButtonSlot()
{
    Dialogs::instance().information(
        this, tr("帐户类型"),
        tr("<h3>本地:</h3> 只在本地数据库保存联系人信息.<h3>网络:</h3> "
           "将你的联系人信息和中央数据库同步, 中央数据库由服务器端提供."));
}

void Page_1::updateNextButtonSlot()
{
    const QString problem = nameProblemText(m_name->text());
    m_name->setToolTip(problem);
    m_next->setEnabled(problem.isEmpty() &&
                       (!m_usePassword->isChecked() || !m_password->text().isEmpty()));
}

LocalPage::LocalPage(QWidget *parent) : QWidget(parent), m_finish(new QPushButton(tr("完成")))
{
    setObjectName(QStringLiteral("localPage"));
    m_finish->setObjectName(QStringLiteral("finishButton"));
    auto *label = new QLabel(tr("<h3>帐户创建成功</h3>开始使用联系人管理器."));
    label->setObjectName(QStringLiteral("localPageLabel"));
    auto *layout = new QGridLayout(this);
    layout->addWidget(label, 0, 0, 3, 3);
    layout->addWidget(m_finish, 4, 1);
    connect(m_finish, &QPushButton::clicked, this, &LocalPage::createLocalAccountSignal);
}

NetworkPage::NetworkPage(QWidget *parent)
    : QWidget(parent), m_host(new QLineEdit), m_port(new QSpinBox), m_password(new QLineEdit),
      m_cancel(new QPushButton(tr("取消"))), m_next(new QPushButton(tr("下一个")))
{
    setObjectName(QStringLiteral("networkPage"));
    m_host->setObjectName(QStringLiteral("hostEdit"));
    m_port->setObjectName(QStringLiteral("portSpinBox"));
    m_password->setObjectName(QStringLiteral("serverPasswordEdit"));
    m_cancel->setObjectName(QStringLiteral("networkCancelButton"));
    m_next->setObjectName(QStringLiteral("networkNextButton"));

    m_host->setInputMask(QStringLiteral("000.000.000.000;"));
    m_host->setText(Accounts::DefaultHost);
    m_host->setToolTip(tr("服务器IP地址"));
    m_port->setRange(60, 65535);
    m_port->setValue(Accounts::DefaultPort);
    m_port->setToolTip(tr("服务器监听端口 (默认 1639)"));
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setToolTip(tr("服务器密码"));
    m_next->setEnabled(false);

    auto *box = new QGroupBox(tr("服务器设置"));
    auto *grid = new QGridLayout(box);
    grid->addWidget(new QLabel(tr("主机: ")), 0, 0);
    grid->addWidget(m_host, 0, 1);
    grid->addWidget(new QLabel(tr("端口: ")), 1, 0);
    grid->addWidget(m_port, 1, 1);
    grid->addWidget(new QLabel(tr("密码: ")), 2, 0);
    grid->addWidget(m_password, 2, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_next);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(box);
    layout->addLayout(buttons);

    connect(m_cancel, &QPushButton::clicked, this, &NetworkPage::cancelSignal);
    connect(m_next, &QPushButton::clicked, this, &NetworkPage::createNetworkAccountSignal);
    connect(m_host, &QLineEdit::textChanged, this, &NetworkPage::updateNextButtonSlot);
    connect(m_password, &QLineEdit::textChanged, this, &NetworkPage::updateNextButtonSlot);
}

bool NetworkPage::hostIsComplete() const
{
    const QStringList parts = m_host->text().split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString &part : parts) {
        bool ok = false;
        const int value = part.trimmed().toInt(&ok);
        if (!ok || value < 0 || value > 255)
            return false;
    }
    return true;
}

QString NetworkPage::host() const
{
    // "010" would be read as octal by some resolvers: store the plain numbers.
    QStringList parts = m_host->text().split(QLatin1Char('.'));
    for (QString &part : parts)
        part = QString::number(part.trimmed().toInt());
    return parts.join(QLatin1Char('.'));
}

int NetworkPage::port() const
{
    return m_port->value();
}

QString NetworkPage::password() const
{
    return m_password->text();
}

void NetworkPage::updateNextButtonSlot()
{
    const bool complete = hostIsComplete();
    m_host->setToolTip(complete ? tr("服务器IP地址")
                                : tr("服务器IP地址: 请输入四个 0 到 255 之间的数字"));
    m_next->setEnabled(complete && !m_password->text().isEmpty());
}

NewAccountWidget::NewAccountWidget(QWidget *parent)
    : QWidget(parent), m_stack(new QStackedWidget), m_page1(new Page_1), m_localPage(new LocalPage),
      m_networkPage(new NetworkPage)
{
    setObjectName(QStringLiteral("newAccountWidget"));
    m_stack->setObjectName(QStringLiteral("wizardStack"));
    setWindowTitle(tr("创建一个新帐户"));
    setWindowModality(Qt::ApplicationModal);

    m_stack->addWidget(m_page1);
    m_stack->addWidget(m_localPage);
    m_stack->addWidget(m_networkPage);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_stack);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_page1, &Page_1::nextSignal, this, &NewAccountWidget::handlePage_1);
    connect(m_page1, &Page_1::cancelSignal, this, &NewAccountWidget::cancelNewAccSlot);
    connect(m_networkPage, &NetworkPage::cancelSignal, this, &NewAccountWidget::cancelNewAccSlot);
    connect(m_localPage, &LocalPage::createLocalAccountSignal, this,
            &NewAccountWidget::createLocalAccountSlot);
    connect(m_networkPage, &NetworkPage::createNetworkAccountSignal, this,
            &NewAccountWidget::createNetworkAccountSlot);
}

int NewAccountWidget::currentPage() const
{
    return m_stack->currentIndex();
}

void NewAccountWidget::closeEvent(QCloseEvent *event)
{
    event->ignore();
}

bool NewAccountWidget::refuseTakenName(const QString &name)
{
    // Writing over an existing account's keys would drop its password and kind, and count it
    // twice.
    if (!Accounts::exists(name))
        return false;
    Dialogs::instance().warning(this, tr("新帐户"), tr("帐户名已经存在, 请使用其他名字!"));
    m_stack->setCurrentIndex(0);
    return true;
}

void NewAccountWidget::handlePage_1()
{
    const QString name = m_page1->accountName();
    if (Accounts::nameProblem(name) != Accounts::NameProblem::None || refuseTakenName(name))
        return;
    if (m_page1->isLocal()) {
        m_stack->setCurrentIndex(1);
        m_localPage->finishButton()->setFocus();
    } else {
        m_stack->setCurrentIndex(2);
    }
}

bool NewAccountWidget::createAccount(bool network)
{
    Accounts::NewAccount account;
    account.name = m_page1->accountName();
    account.network = network;
    account.usePassword = m_page1->usePassword();
    account.password = m_page1->password();
    if (network) {
        account.host = m_networkPage->host();
        account.port = m_networkPage->port();
        account.serverPassword = m_networkPage->password();
    }
    // Another running client may have taken the name since the first page.
    if (refuseTakenName(account.name))
        return false;
    // The file first: an account whose file could not be made never enters the registry.
    const QString path = Accounts::databasePath(account.name);
    const bool existed = QFileInfo::exists(path);
    if (!createDatabase(account.name))
        return false;
    if (Accounts::create(account))
        return true;
    // The registry kept none of it; a file made for it goes too.
    if (!existed)
        QFile::remove(path);
    Dialogs::instance().critical(this, tr("设置出错"), Accounts::errorString());
    m_stack->setCurrentIndex(0); // the page that can cancel
    return false;
}

void NewAccountWidget::createLocalAccountSlot()
{
    if (createAccount(false))
        emit completeSignal();
}

void NewAccountWidget::createNetworkAccountSlot()
{
    if (!createAccount(true))
        return;
    Dialogs::instance().information(this, tr("新帐户"), tr("帐户创建成功"));
    emit completeSignal();
}

bool NewAccountWidget::createDatabase(const QString &name)
{
    QDir().mkpath(Accounts::databaseDirectory());
    QString error;
    if (ContactStore::createDatabase(Accounts::databasePath(name), &error))
        return true;
    Dialogs::instance().critical(this, tr("数据库出错"), error);
    QCoreApplication::exit(EXIT_FAILURE);
    return false;
}
