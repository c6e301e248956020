#include "addresswidget.h"

#include "accounts.h"
#include "contactlistwidget.h"
#include "contactstore.h"
#include "dialogs.h"
#include "mainwidget.h"
#include "mainwindow.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QToolButton *iconButton(const QString &objectName, const QString &icon, const QString &statusTip)
{
    auto *button = new QToolButton;
    button->setObjectName(objectName);
    button->setIcon(QIcon(icon));
    button->setIconSize(QSize(16, 16));
    button->setStatusTip(statusTip);
    return button;
}

QLineEdit *lineEdit(const QString &objectName)
{
    auto *edit = new QLineEdit;
    edit->setObjectName(objectName);
    return edit;
}

} // namespace

AddressWidget::AddressWidget(MainWidget *parent)
    : QWidget(parent), m_mainWidget(parent),
      m_mainWindow(parent ? qobject_cast<MainWindow *>(parent->parentWidget()) : nullptr)
{
    setObjectName(QStringLiteral("addressWidget"));
    buildForm();
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setEditable(false);
    if (openDatabase())
        loadList();
}

AddressWidget::~AddressWidget()
{
    closeDatabase();
}

void AddressWidget::buildForm()
{
    m_picture = new QLabel;
    m_picture->setObjectName(QStringLiteral("pictureLabel"));
    m_picture->setPixmap(QPixmap(QStringLiteral(":/icons/contact.png")));

    m_name = lineEdit(QStringLiteral("nameEdit"));
    m_name->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("^\\S+$")), m_name));
    m_firstName = lineEdit(QStringLiteral("firstNameEdit"));
    m_work = lineEdit(QStringLiteral("workEdit"));
    m_home = lineEdit(QStringLiteral("homeEdit"));
    m_mobile = lineEdit(QStringLiteral("mobileEdit"));
    m_address = lineEdit(QStringLiteral("addressEdit"));
    m_zip = lineEdit(QStringLiteral("zipEdit"));
    m_town = lineEdit(QStringLiteral("townEdit"));
    m_email = lineEdit(QStringLiteral("emailEdit"));
    m_web = lineEdit(QStringLiteral("webEdit"));
    m_notes = new QPlainTextEdit;
    m_notes->setObjectName(QStringLiteral("notesEdit"));

    m_addCustom = new QPushButton(tr("增加自定义域"));
    m_addCustom->setObjectName(QStringLiteral("addCustomButton"));
    m_addCustom->setEnabled(false);
    m_cancel = iconButton(QStringLiteral("cancelEditButton"), QStringLiteral(":/icons/cancel.png"),
                          tr("取消当前变更"));
    m_save = iconButton(QStringLiteral("saveEditButton"), QStringLiteral(":/icons/save.png"),
                        tr("保存当前变更"));
    m_save->setShortcut(QKeySequence::Save);
    m_cancel->hide();
    m_save->hide();
    m_map = iconButton(QStringLiteral("mapButton"), QStringLiteral(":/icons/map.png"),
                       tr("在谷歌(Google)地图上显示地址"));
    m_mail = iconButton(QStringLiteral("mailButton"), QStringLiteral(":/icons/mail.png"),
                        tr("发送邮件"));
    m_webButton =
        iconButton(QStringLiteral("webButton"), QStringLiteral(":/icons/web.png"), tr("打开网站"));

    auto *grid = new QGridLayout;
    auto label = [](const QString &text) { return new QLabel(text); };
    grid->addWidget(m_picture, 0, 0);
    grid->addWidget(m_name, 0, 1, 1, 2);
    grid->addWidget(m_firstName, 0, 3);
    grid->addWidget(label(tr("工作电话: ")), 1, 0);
    grid->addWidget(m_work, 1, 1, 1, 2);
    grid->addWidget(label(tr("备注: ")), 1, 3);
    grid->addWidget(label(tr("家庭电话: ")), 2, 0);
    grid->addWidget(m_home, 2, 1, 1, 2);
    grid->addWidget(m_notes, 2, 3, 6, 1);
    grid->addWidget(label(tr("移动电话: ")), 3, 0);
    grid->addWidget(m_mobile, 3, 1, 1, 2);
    grid->addWidget(label(tr("通讯地址: ")), 4, 0);
    grid->addWidget(m_address, 4, 1, 1, 2);
    grid->addWidget(label(tr("邮编: ")), 5, 0);
    grid->addWidget(m_zip, 5, 1, 1, 2);
    grid->addWidget(label(tr("城市: ")), 6, 0);
    grid->addWidget(m_town, 6, 1);
    grid->addWidget(m_map, 6, 2);
    grid->addWidget(label(tr("电子邮件: ")), 7, 0);
    grid->addWidget(m_email, 7, 1);
    grid->addWidget(m_mail, 7, 2);
    grid->addWidget(label(tr("网站: ")), 8, 0);
    grid->addWidget(m_web, 8, 1);
    grid->addWidget(m_webButton, 8, 2);
    grid->addWidget(m_addCustom, 8, 3);

    connect(m_addCustom, &QPushButton::clicked, this, &AddressWidget::addCustomEditField);
    connect(m_cancel, &QToolButton::clicked, this, &AddressWidget::cancelEditSlot);
    connect(m_save, &QToolButton::clicked, this, &AddressWidget::saveEditSlot);
    connect(m_map, &QToolButton::clicked, this, &AddressWidget::mapButtonSlot);
    connect(m_mail, &QToolButton::clicked, this, &AddressWidget::emailButtonSlot);
    connect(m_webButton, &QToolButton::clicked, this, &AddressWidget::webButtonSlot);
    if (m_mainWidget)
        connect(m_mainWidget->contactListWidget()->listWidget(), &QListWidget::itemSelectionChanged,
                this, &AddressWidget::selectionChangedSlot);
    setLayout(grid);

    auto *customBox = new QVBoxLayout;
    for (int i = 0; i < CustomRows; ++i) {
        const QString n = QString::number(i + 1);
        CustomRow &row = m_custom[i];
        row.label = lineEdit(QStringLiteral("customLabelEdit") + n);
        row.value = lineEdit(QStringLiteral("customValueEdit") + n);
        row.remove = iconButton(QStringLiteral("removeCustomButton") + n,
                                QStringLiteral(":/icons/delete_contact.png"), QString());
        for (QWidget *w : {static_cast<QWidget *>(row.label), static_cast<QWidget *>(row.value),
                           static_cast<QWidget *>(row.remove)})
            w->hide();
        connect(row.remove, &QToolButton::clicked, row.label, &QWidget::hide);
        connect(row.remove, &QToolButton::clicked, row.value, &QWidget::hide);
        connect(row.remove, &QToolButton::clicked, row.remove, &QWidget::hide);
        connect(row.remove, &QToolButton::clicked, row.label, &QLineEdit::clear);
        connect(row.remove, &QToolButton::clicked, row.value, &QLineEdit::clear);
        connect(row.remove, &QToolButton::clicked, this, &AddressWidget::handleRemoveCustom);
        auto *rowBox = new QHBoxLayout;
        rowBox->addWidget(row.label);
        rowBox->addWidget(row.value);
        rowBox->addWidget(row.remove);
        customBox->addLayout(rowBox);
    }
    grid->addLayout(customBox, 9, 0, 1, 4);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_save);
    grid->addLayout(buttons, 10, 0);
}

QList<QLineEdit *> AddressWidget::lineEdits() const
{
    return {m_name,    m_firstName, m_work, m_home,  m_mobile,
            m_address, m_zip,       m_town, m_email, m_web};
}

QString AddressWidget::currentAccount() const
{
    return m_mainWindow ? m_mainWindow->currentDatabase() : Accounts::current();
}

bool AddressWidget::openDatabase()
{
    if (Accounts::count() == 0)
        return false;
    closeDatabase();
    // A registration left by anyone else would be replaced with a warning; drop it quietly.
    if (QSqlDatabase::contains(QLatin1String(QSqlDatabase::defaultConnection)))
        QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    const QString name = Accounts::current();
    if (m_mainWindow)
        m_mainWindow->setCurrentDatabase(name);
    const QString path = Accounts::databasePath(name);
    // SQLite would create a missing file; an account never gets an empty one behind its back.
    if (!QFileInfo::exists(path)) {
        Dialogs::instance().critical(this, tr("数据库出错"), tr("数据库不存在!"));
        return false;
    }
    m_db.setDatabaseName(path);
    if (!m_db.open()) {
        Dialogs::instance().critical(this, tr("数据库出错"), tr("无法开启数据库!"));
        return false;
    }
    return true;
}

void AddressWidget::closeDatabase()
{
    if (!m_db.isValid())
        return;
    const QString connection = m_db.connectionName();
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(connection);
}

bool AddressWidget::loadList()
{
    QListWidget *list = m_mainWidget ? m_mainWidget->contactListWidget()->listWidget() : nullptr;
    if (list)
        list->clear();
    if (Accounts::count() == 0)
        return false;
    if (Accounts::usePassword(currentAccount()) && !m_passwordVerified) {
        askPassword();
        return false;
    }
    if (!list)
        return true;
    const auto names = ContactStore(m_db).names();
    for (const auto &[name, firstName] : names)
        m_mainWidget->contactListWidget()->addContact(Contact::displayText(name, firstName));
    return true;
}

void AddressWidget::askPassword()
{
    emit passwordRequested();
}

void AddressWidget::clearForm()
{
    for (QLineEdit *edit : lineEdits())
        edit->clear();
    m_notes->clear();
    for (CustomRow &row : m_custom) {
        row.label->hide();
        row.value->hide();
        row.remove->hide();
        row.label->clear();
        row.value->clear();
    }
    m_customCount = 0;
    m_editing = false;
    setEditable(false);
}

void AddressWidget::setEditable(bool editable)
{
    m_editable = editable;
    for (QLineEdit *edit : lineEdits())
        edit->setReadOnly(!editable);
    m_notes->setReadOnly(!editable);
    m_addCustom->setEnabled(editable && m_customCount < CustomRows);
    m_save->setVisible(editable);
    m_cancel->setVisible(editable);
    m_map->setVisible(!editable);
    m_mail->setVisible(!editable);
    m_webButton->setVisible(!editable);
    for (int i = 0; i < CustomRows; ++i) {
        m_custom[i].label->setReadOnly(!editable);
        m_custom[i].value->setReadOnly(!editable);
        m_custom[i].remove->setVisible(editable && i < m_customCount);
    }
    emit editModeSignal(editable);
}

void AddressWidget::selectionChangedSlot()
{
    QListWidget *list = m_mainWidget ? m_mainWidget->contactListWidget()->listWidget() : nullptr;
    if (!list || list->count() == 0 || !list->currentItem())
        return;
    clearForm();
    const auto [name, firstName] = Contact::splitDisplayText(list->currentItem()->text());
    const std::optional<Contact> contact = ContactStore(m_db).find(name, firstName);
    if (!contact)
        return;
    m_name->setText(contact->name);
    m_firstName->setText(contact->firstName);
    m_work->setText(contact->work);
    m_home->setText(contact->home);
    m_mobile->setText(contact->mobile);
    m_address->setText(contact->address);
    m_zip->setText(contact->zip);
    m_town->setText(contact->town);
    m_email->setText(contact->email);
    m_web->setText(contact->web);
    m_notes->setPlainText(contact->notes);
    m_currentId = contact->id;
    m_customCount = contact->shownCustomCount();
    for (int i = 0; i < m_customCount; ++i) {
        m_custom[i].label->setText(contact->customLabel[i]);
        m_custom[i].value->setText(contact->customValue[i]);
        m_custom[i].label->show();
        m_custom[i].value->show();
    }
}

void AddressWidget::addContact()
{
    clearForm();
    setEditable(true);
    m_name->setText(tr("姓"));
    m_firstName->setText(tr("名"));
}

void AddressWidget::editContactSlot()
{
    m_editing = true;
    setEditable(true);
}

// Not implemented yet: custom rows, search, vCard import, deleting, saving, the link buttons.
void AddressWidget::addCustomEditField() {}
void AddressWidget::searchSlot(const QString &) {}
void AddressWidget::importvCard() {}
void AddressWidget::deleteContactSlot() {}
void AddressWidget::cancelEditSlot() {}
void AddressWidget::saveEditSlot() {}
void AddressWidget::handleRemoveCustom() {}
void AddressWidget::mapButtonSlot() {}
void AddressWidget::emailButtonSlot() {}
void AddressWidget::webButtonSlot() {}
