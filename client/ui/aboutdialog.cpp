#include "aboutdialog.h"

#include "links.h"

AboutDialog::AboutDialog(const QString &version, QWidget *parent) : QDialog(parent)
{
    setupUi(this);
    iconLabel->setPixmap(QPixmap(QStringLiteral(":/icons/pelicard.png")));
    mainLabel->setText(
        tr("澄岚联系人管理器是一款功能强大的联系人管理工具软件\n版本: %1").arg(version) +
        QLatin1String("\n\n") + tr("由 Pelicard 项目出品"));
    authorsListWidget->addItem(tr("欢迎访问我们的网站:"));
    authorsListWidget->addItem(Links::webPage(Links::HomePath).toString());
    licenseTextEdit->setPlainText(tr("澄岚联系人管理器由 Pelicard 项目维护"));
}
