#include "serverwidget.h"

#include "protocol.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {
template <typename W> W *named(W *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}
} // namespace

ServerWidget::ServerWidget(QWidget *parent) : QWidget(parent)
{
    portLabel = named(new QLabel(tr("端口: ")), "portLabel");
    portSpinBox = named(new QSpinBox, "portSpinBox");
    portSpinBox->setRange(60, 65535);
    portSpinBox->setValue(Protocol::DefaultPort);
    portSpinBox->setToolTip(tr("服务器监听端口 (默认 1639)"));
    passwordLabel = named(new QLabel(tr("密码: ")), "passwordLabel");
    passwordEdit = named(new QLineEdit, "passwordEdit");
    passwordEdit->setEchoMode(QLineEdit::Password);
    passwordEdit->setToolTip(tr("客户端需要使用此密码来连接服务器"));

    settingsBox = named(new QGroupBox(tr("服务器设置")), "settingsBox");
    auto *grid = new QGridLayout(settingsBox);
    grid->addWidget(portLabel, 0, 0);
    grid->addWidget(portSpinBox, 0, 1);
    grid->addWidget(passwordLabel, 1, 0);
    grid->addWidget(passwordEdit, 1, 1);

    startCheckBox = named(new QCheckBox(tr("服务器端随程序同时启动")), "startCheckBox");
    clientsLabel = named(new QLabel(tr("已经连接的客户端: ")), "clientsLabel");
    countLabel = named(new QLabel(QStringLiteral("0")), "countLabel");
    quitButton = named(new QPushButton(tr("退出")), "quitButton");
    startButton = named(new QPushButton(tr("开始")), "startButton");
    stopButton = named(new QPushButton(tr("停止")), "stopButton");
    stopButton->hide();

    auto *countRow = new QHBoxLayout;
    countRow->addWidget(clientsLabel);
    countRow->addWidget(countLabel);
    countRow->addStretch();

    auto *buttonRow = new QHBoxLayout;
    buttonRow->addWidget(quitButton);
    buttonRow->addWidget(startButton);
    buttonRow->addWidget(stopButton);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(settingsBox);
    layout->addWidget(startCheckBox);
    layout->addLayout(countRow);
    layout->addStretch();
    layout->addLayout(buttonRow);
}
