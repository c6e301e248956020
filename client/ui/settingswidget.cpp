#include "settingswidget.h"

#include "mainwindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

SettingsWidget::SettingsWidget(MainWindow *parent)
    : QWidget(parent), m_mainWindow(parent), m_back(new QPushButton(tr("后退")))
{
    setObjectName(QStringLiteral("settingsWidget"));
    m_back->setObjectName(QStringLiteral("settingsBackButton"));

    auto *header = new QLabel(tr("<h3>澄岚联系人管理器 设置</h3>"));
    header->setAlignment(Qt::AlignHCenter);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_back);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(header);
    layout->addStretch();
    layout->addLayout(buttons);

    loadSettings();
}

// Not implemented yet: the page's controls.
void SettingsWidget::loadSettings() {}
void SettingsWidget::saveSettings() {}
