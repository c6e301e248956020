#include "searchwidget.h"

#include <QHBoxLayout>
#include <QLineEdit>

SearchWidget::SearchWidget(QWidget *parent) : QWidget(parent), m_edit(new QLineEdit)
{
    m_edit->setObjectName(QStringLiteral("searchLineEdit"));
    m_edit->setAccessibleName(tr("搜索"));
    m_edit->setStyleSheet(
        QStringLiteral("padding-left: 12px;margin-left: 1px;margin-right: 1px;padding-right: 5px;"
                       "background: url(:/icons/search.png);background-position: left;"
                       "background-repeat: no-repeat;border-radius: 10px;border: 1px solid gray;"));
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_edit);
}
