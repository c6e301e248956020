#include "printwidget.h"

#include "accountsession.h"
#include "contactlistwidget.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

PrintWidget::PrintWidget(AccountSession *session, ContactListWidget *list, QWidget *parent)
    : QWidget(parent), m_session(session), m_list(list),
      m_selected(new QRadioButton(tr("选择的联系人:"))), m_selection(new QLineEdit),
      m_all(new QRadioButton(tr("全部联系人"))), m_back(new QPushButton(tr("后退"))),
      m_print(new QPushButton(tr("打印")))
{
    setObjectName(QStringLiteral("printWidget"));
    m_selected->setObjectName(QStringLiteral("printSelectedRadioButton"));
    m_selection->setObjectName(QStringLiteral("printSelectionEdit"));
    m_all->setObjectName(QStringLiteral("printAllRadioButton"));
    m_back->setObjectName(QStringLiteral("printBackButton"));
    m_print->setObjectName(QStringLiteral("printButton"));
    m_selected->setChecked(true);
    m_selection->setReadOnly(true);
    m_print->setDefault(true);

    auto *title = new QLabel(tr("<h3>你希望打印什么?</h3>"));
    title->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);

    auto *choices = new QGroupBox;
    auto *selectedRow = new QHBoxLayout;
    selectedRow->addWidget(m_selected);
    selectedRow->addWidget(m_selection);
    auto *choiceLayout = new QVBoxLayout(choices);
    choiceLayout->addLayout(selectedRow);
    choiceLayout->addWidget(m_all);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_back);
    buttons->addWidget(m_print);
    buttons->addStretch();

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addWidget(choices);
    layout->addLayout(buttons);
}

qint64 PrintWidget::selectedId() const
{
    return m_session->contactsVisible() && m_list->hasSelection() ? m_list->currentId() : -1;
}

void PrintWidget::refresh()
{
    m_selection->setText(selectedId() < 0 ? tr("没有选择") : m_list->currentText());
}
