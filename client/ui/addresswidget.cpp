#include "addresswidget.h"
#include "contactlistmodel.h"

#include "accounts.h"
#include "accountsession.h"
#include "cardupload.h"
#include "contactlistwidget.h"
#include "contactprinter.h"
#include "contactstore.h"
#include "dialogs.h"
#include "filenames.h"
#include "links.h"
#include "logging.h"
#include "networkrunner.h"
#include "passwidget.h"
#include "vcard.h"
#include "workprogress.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QToolButton *iconButton(const QString &objectName, const QString &icon, const QString &statusTip)
{
    auto *button = new QToolButton;
    button->setObjectName(objectName);
    button->setIcon(QIcon(icon));
    button->setIconSize(QSize(16, 16));
    button->setStatusTip(statusTip);
    button->setAccessibleName(statusTip);
    return button;
}

QLineEdit *lineEdit(const QString &objectName)
{
    auto *edit = new QLineEdit;
    edit->setObjectName(objectName);
    return edit;
}

} // namespace

AddressWidget::AddressWidget(AccountSession *session, ContactListWidget *list, QWidget *parent)
    : QWidget(parent), m_session(session), m_list(list)
{
    setObjectName(QStringLiteral("addressWidget"));
    buildForm();
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setEditable(false);
}

AddressWidget::~AddressWidget()
{
    delete m_passWidget; // a window of its own
}

void AddressWidget::buildForm()
{
    m_picture = new QLabel;
    m_picture->setObjectName(QStringLiteral("pictureLabel"));
    m_picture->setPixmap(QPixmap(QStringLiteral(":/icons/contact.png")));

    m_name = lineEdit(QStringLiteral("nameEdit"));
    m_name->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("^\\S+$")), m_name));
    m_name->setAccessibleName(tr("姓"));
    m_firstName = lineEdit(QStringLiteral("firstNameEdit"));
    m_firstName->setAccessibleName(tr("名"));
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
    auto label = [](const QString &text, QWidget *buddy) {
        auto *l = new QLabel(text);
        l->setBuddy(buddy);
        return l;
    };
    grid->addWidget(m_picture, 0, 0);
    grid->addWidget(m_name, 0, 1, 1, 2);
    grid->addWidget(m_firstName, 0, 3);
    grid->addWidget(label(tr("工作电话: "), m_work), 1, 0);
    grid->addWidget(m_work, 1, 1, 1, 2);
    grid->addWidget(label(tr("备注: "), m_notes), 1, 3);
    grid->addWidget(label(tr("家庭电话: "), m_home), 2, 0);
    grid->addWidget(m_home, 2, 1, 1, 2);
    grid->addWidget(m_notes, 2, 3, 6, 1);
    grid->addWidget(label(tr("移动电话: "), m_mobile), 3, 0);
    grid->addWidget(m_mobile, 3, 1, 1, 2);
    grid->addWidget(label(tr("通讯地址: "), m_address), 4, 0);
    grid->addWidget(m_address, 4, 1, 1, 2);
    grid->addWidget(label(tr("邮编: "), m_zip), 5, 0);
    grid->addWidget(m_zip, 5, 1, 1, 2);
    grid->addWidget(label(tr("城市: "), m_town), 6, 0);
    grid->addWidget(m_town, 6, 1);
    grid->addWidget(m_map, 6, 2);
    grid->addWidget(label(tr("电子邮件: "), m_email), 7, 0);
    grid->addWidget(m_email, 7, 1);
    grid->addWidget(m_mail, 7, 2);
    grid->addWidget(label(tr("网站: "), m_web), 8, 0);
    grid->addWidget(m_web, 8, 1);
    grid->addWidget(m_webButton, 8, 2);
    grid->addWidget(m_addCustom, 8, 3);

    connect(m_addCustom, &QPushButton::clicked, this, &AddressWidget::addCustomEditField);
    connect(m_cancel, &QToolButton::clicked, this, &AddressWidget::cancelEditSlot);
    connect(m_save, &QToolButton::clicked, this, &AddressWidget::saveEditSlot);
    connect(m_map, &QToolButton::clicked, this, &AddressWidget::mapButtonSlot);
    connect(m_mail, &QToolButton::clicked, this, &AddressWidget::emailButtonSlot);
    connect(m_webButton, &QToolButton::clicked, this, &AddressWidget::webButtonSlot);
    connect(m_list, &ContactListWidget::itemSelectionChanged, this,
            &AddressWidget::selectionChangedSlot);
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
        row.label->setAccessibleName(tr("标签 %1").arg(n));
        row.value->setAccessibleName(tr("值 %1").arg(n));
        row.remove->setAccessibleName(tr("删除自定义域 %1").arg(n));
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

bool AddressWidget::passwordVerified() const
{
    return m_session->isUnlocked();
}

void AddressWidget::setPasswordVerified(bool verified)
{
    m_session->setUnlocked(verified);
}

bool AddressWidget::openDatabase()
{
    if (Accounts::count() == 0)
        return false;
    if (m_session->open(Accounts::current()))
        return true;
    if (m_session->fileMissing())
        Dialogs::instance().critical(this, tr("数据库出错"), tr("数据库不存在!"));
    else
        Dialogs::instance().critical(this, tr("数据库出错"),
                                     tr("无法开启数据库!") + u'\n' + m_session->errorString());
    return false;
}

void AddressWidget::closeDatabase()
{
    // The prompt belongs to the account being left.
    closePrompt();
    m_session->close();
}

bool AddressWidget::loadList()
{
    m_session->model()->clear();
    if (Accounts::count() == 0)
        return false;
    if (m_session->usesPassword() && !m_session->isUnlocked()) {
        askPassword();
        return false;
    }
    if (!m_session->isOpen())
        return false;
    if (!m_session->reload()) {
        Dialogs::instance().critical(this, tr("数据库出错"),
                                     tr("无法开启数据库!") + u'\n' + m_session->errorString());
        return false;
    }
    return true;
}

void AddressWidget::askPassword()
{
    if (!m_passWidget) {
        m_passWidget = new PassWidget;
        connect(m_passWidget->verifyButton(), &QPushButton::clicked, this,
                &AddressWidget::checkPassSlot);
        connect(m_passWidget->cancelButton(), &QPushButton::clicked, this,
                &AddressWidget::passCancelSlot);
    }
    m_passWidget->show();
    m_passWidget->raise();
    m_passWidget->activateWindow();
    emit passwordRequested();
}

PassWidget *AddressWidget::passWidget() const
{
    return m_passWidget;
}

void AddressWidget::closePrompt()
{
    if (!m_passWidget)
        return;
    // Its own button's signal may still be on its way.
    m_passWidget->hide();
    m_passWidget->deleteLater();
    m_passWidget = nullptr;
}

void AddressWidget::checkPassSlot()
{
    if (!m_passWidget)
        return;
    if (!Accounts::checkPassword(m_session->name(), m_passWidget->password())) {
        m_session->setUnlocked(false);
        Dialogs::instance().warning(this, tr("密码请求"), tr("密码错误!"));
        return;
    }
    m_session->setUnlocked(true);
    closePrompt();
    loadList();
    emit passwordAccepted();
}

void AddressWidget::passCancelSlot()
{
    closePrompt();
    emit passwordCanceled();
}

void AddressWidget::searchSlot(const QString &searchText)
{
    m_session->search(searchText);
    // The rebuilt list has nothing selected; edit and delete must not act on a hidden entry.
    if (!m_editable)
        emit updateActionsSignal();
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
    m_currentId = -1;
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

void AddressWidget::showCustomRow(int row, const QString &label, const QString &value)
{
    CustomRow &r = m_custom[row];
    r.label->setText(label);
    r.value->setText(value);
    r.label->show();
    r.value->show();
    r.remove->setVisible(m_editable);
}

void AddressWidget::showContact(const Contact &contact)
{
    m_name->setText(contact.name);
    m_firstName->setText(contact.firstName);
    m_work->setText(contact.work);
    m_home->setText(contact.home);
    m_mobile->setText(contact.mobile);
    m_address->setText(contact.address);
    m_zip->setText(contact.zip);
    m_town->setText(contact.town);
    m_email->setText(contact.email);
    m_web->setText(contact.web);
    m_notes->setPlainText(contact.notes);
    m_currentId = contact.id;
    // A count from a file made elsewhere may be anything; the form has six rows.
    m_customCount = contact.shownCustomCount();
    for (int i = 0; i < m_customCount; ++i)
        showCustomRow(i, contact.customLabel[i], contact.customValue[i]);
}

Contact AddressWidget::formContact() const
{
    Contact c;
    c.name = m_name->text();
    c.firstName = m_firstName->text();
    c.work = m_work->text();
    c.home = m_home->text();
    c.mobile = m_mobile->text();
    c.address = m_address->text();
    c.zip = m_zip->text();
    c.town = m_town->text();
    c.email = m_email->text();
    c.web = m_web->text();
    c.notes = m_notes->toPlainText();
    c.customCount = m_customCount;
    // All six pairs are written; the hidden ones are empty.
    for (int k = 0; k < CustomRows; ++k) {
        c.customLabel[k] = m_custom[k].label->text();
        c.customValue[k] = m_custom[k].value->text();
    }
    c.id = m_currentId;
    c.normalise();
    return c;
}

void AddressWidget::selectionChangedSlot()
{
    const qint64 id = m_list->currentId();
    if (m_list->count() == 0 || id < 0)
        return;
    clearForm();
    // By id: the display text cannot tell two equal pairs apart, nor spaces inside a name.
    if (const std::optional<Contact> contact = m_session->contact(id))
        showContact(*contact);
}

void AddressWidget::setNetwork(NetworkRunner *network)
{
    m_network = network;
    connect(m_network, &NetworkRunner::busyChanged, this, &AddressWidget::setNetworkBusy);
}

void AddressWidget::setNetworkBusy(bool busy)
{
    // What is being sent stays what the form shows.
    m_save->setEnabled(!busy);
    m_cancel->setEnabled(!busy);
    for (QLineEdit *edit : lineEdits())
        edit->setReadOnly(busy || !m_editable);
    m_notes->setReadOnly(busy || !m_editable);
}

bool AddressWidget::checkRevisionFirst(void (AddressWidget::*slot)())
{
    if (!m_session->isNetwork() || !m_network)
        return false;
    if (m_revisionChecked) {
        m_revisionChecked = false;
        return false;
    }
    if (m_network->isBusy())
        return true;
    m_network->checkRevision(this, [this, slot](bool current) {
        if (!current)
            return;
        m_revisionChecked = true;
        (this->*slot)();
    });
    return true;
}

void AddressWidget::databaseError()
{
    Dialogs::instance().critical(this, tr("数据库出错"), m_session->errorString());
}

void AddressWidget::addContact()
{
    if (checkRevisionFirst(&AddressWidget::addContact))
        return;
    clearForm();
    setEditable(true);
    m_name->setText(tr("姓"));
    m_firstName->setText(tr("名"));
}

void AddressWidget::editContactSlot()
{
    if (checkRevisionFirst(&AddressWidget::editContactSlot))
        return;
    m_editing = true;
    setEditable(true);
}

void AddressWidget::addCustomEditField()
{
    if (m_customCount >= CustomRows)
        return;
    showCustomRow(m_customCount, tr("标签:"), tr("值"));
    ++m_customCount;
    m_addCustom->setEnabled(m_editable && m_customCount < CustomRows);
}

void AddressWidget::handleRemoveCustom()
{
    int removed = -1;
    for (int i = 0; i < m_customCount; ++i)
        if (m_custom[i].remove == sender())
            removed = i;
    if (removed < 0)
        return;
    // Rows in use stay in the first slots, so the stored count shows all of them next time.
    for (int i = removed; i + 1 < m_customCount; ++i) {
        m_custom[i].label->setText(m_custom[i + 1].label->text());
        m_custom[i].value->setText(m_custom[i + 1].value->text());
    }
    CustomRow &last = m_custom[--m_customCount];
    last.label->hide();
    last.value->hide();
    last.remove->hide();
    last.label->clear();
    last.value->clear();
    m_addCustom->setEnabled(m_editable);
}

void AddressWidget::saveEditSlot()
{
    if (m_name->text().isEmpty()) {
        Dialogs::instance().warning(this, tr("错误"), tr("联系人 名 不可为空"));
        return;
    }
    if (!m_editing) {
        if (insertContact())
            contactInserted();
        return;
    }
    // A change that was not stored keeps the form as typed, so nothing is lost.
    const qint64 id = m_currentId;
    if (updateContact())
        contactUpdated(id);
}

void AddressWidget::contactInserted()
{
    emit addContactListSignal(Contact::displayText(m_name->text(), m_firstName->text()));
    clearForm();
    setEditable(false);
    emit updateActionsSignal();
}

void AddressWidget::contactUpdated(qint64 id)
{
    m_editing = false;
    m_list->selectId(id);
    selectionChangedSlot();
    setEditable(false);
    emit updateActionsSignal();
}

bool AddressWidget::insertContact()
{
    Contact contact = formContact();
    bool ok = true;
    if (m_session->contains(contact.name, contact.firstName, &ok)) {
        Dialogs::instance().warning(this, tr("数据库警告"), tr("数据库已存有该联系人信息"));
        return false;
    }
    if (!ok) {
        databaseError();
        return false;
    }
    if (m_session->isNetwork()) {
        // Checked again, then sent; stored only with the server's acceptance.
        m_network->checkRevision(this, [this, contact](bool current) {
            if (!current)
                return;
            m_network->sendChange(ServerLink::Exchange::AddContact, contact, this,
                                  [this, contact](const ServerLink::Result &accepted) {
                                      Contact stored = contact;
                                      if (!m_session->add(stored, &accepted)) {
                                          databaseError();
                                          return;
                                      }
                                      contactInserted();
                                  });
        });
        return false;
    }
    if (!m_session->add(contact)) {
        databaseError();
        return false;
    }
    return true;
}

bool AddressWidget::updateContact()
{
    const Contact contact = formContact();
    if (m_session->isNetwork()) {
        m_network->checkRevision(this, [this, contact](bool current) {
            if (!current)
                return;
            m_network->sendChange(ServerLink::Exchange::EditContact, contact, this,
                                  [this, contact](const ServerLink::Result &accepted) {
                                      if (!m_session->update(contact, &accepted)) {
                                          databaseError();
                                          return;
                                      }
                                      contactUpdated(contact.id);
                                  });
        });
        return false;
    }
    if (!m_session->update(contact)) {
        databaseError();
        return false;
    }
    return true;
}

void AddressWidget::cancelEditSlot()
{
    if (m_editing) {
        m_editing = false;
        setEditable(false);
        selectionChangedSlot();
        return;
    }
    if (Dialogs::instance().question(this, tr("取消"), tr("请再次确认是否取消?")) ==
        QMessageBox::No)
        return;
    clearForm();
    emit updateActionsSignal();
}

void AddressWidget::deleteContactSlot()
{
    if (checkRevisionFirst(&AddressWidget::deleteContactSlot))
        return;
    const qint64 id = m_list->currentId();
    const QString text = m_list->currentText();
    if (id < 0)
        return;
    if (Dialogs::instance().question(this, tr("删除联系人"), tr("您真的要删除联系人: ") + text) !=
        QMessageBox::Yes)
        return;
    const std::optional<ContactStore::NamePair> pair = m_session->namePair(id);
    if (pair && m_session->isNetwork()) {
        // The entry goes only once the server has taken the delete.
        Contact named;
        named.name = pair->first;
        named.firstName = pair->second;
        m_network->sendChange(ServerLink::Exchange::DeleteContact, named, this,
                              [this, named](const ServerLink::Result &accepted) {
                                  if (!m_session->remove(named.name, named.firstName, &accepted)) {
                                      databaseError();
                                      return;
                                  }
                                  clearForm();
                                  selectionChangedSlot();
                                  emit updateActionsSignal();
                              });
        return;
    }
    if (!pair || !m_session->remove(pair->first, pair->second)) {
        databaseError();
        return;
    }
    clearForm();
    selectionChangedSlot();
    emit updateActionsSignal();
}

void AddressWidget::mapButtonSlot()
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QLatin1String(Links::MapHost));
    url.setPath(QLatin1String(Links::MapPath));
    url.setQuery(QLatin1String(Links::MapQuery) +
                 QString::fromLatin1(QUrl::toPercentEncoding(m_town->text())));
    QDesktopServices::openUrl(url);
}

void AddressWidget::emailButtonSlot()
{
    QUrl url;
    url.setScheme(QStringLiteral("mailto"));
    url.setPath(m_email->text());
    QDesktopServices::openUrl(url);
}

void AddressWidget::webButtonSlot()
{
    const QString web = m_web->text().trimmed();
    // An address typed with its scheme is opened as typed, not with a second one.
    const bool hasScheme = web.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
                           web.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
    QDesktopServices::openUrl(
        QUrl(hasScheme ? web : QStringLiteral("http://") + web, QUrl::TolerantMode));
}

QList<Contact> AddressWidget::chosenContacts(bool all, bool *ok)
{
    const QList<Contact> contacts =
        all ? m_session->allContacts(ok) : m_session->contactsLike(m_list->currentId(), ok);
    if (!*ok)
        databaseError();
    return contacts;
}

void AddressWidget::exportvCard(bool all)
{
    const QString chosen = Dialogs::instance().saveFileName(
        this, tr("保存 vCard"), QDir::homePath(), tr("vCard 文件 (*.vcf)"));
    if (chosen.isEmpty())
        return;
    bool ok = true;
    const QList<Contact> contacts = chosenContacts(all, &ok);
    if (!ok)
        return;
    // Nothing takes the chosen name until every card is written.
    VCardFileWriter out(FileNames::withSuffix(chosen, QStringLiteral(".vcf")),
                        all ? VCardWriter::LineBreakAfterLast : VCardWriter::NoLineBreakAfterLast);
    WorkProgress progress(this, tr("正在导出 vCard..."));
    ok = out.open();
    for (qsizetype i = 0; ok && i < contacts.size(); ++i) {
        if (!progress.step(i, contacts.size())) {
            emit statusMessage(tr("vCard 导出已取消"));
            return;
        }
        ok = out.write(contacts[i]);
    }
    ok = ok && out.commit();
    progress.finish();
    if (!ok) {
        qCWarning(lcUi) << "vCard export:" << out.errorString();
        Dialogs::instance().critical(this, tr("保存过程出错"),
                                     tr("错误信息:\n无法在指定文件中写入数据"));
        return;
    }
    emit statusMessage(tr("vCard 导出成功"));
}

void AddressWidget::importvCard()
{
    // The import is a run of exchanges; it starts only between them.
    if (m_session->isNetwork() && (!m_network || m_network->isBusy())) {
        emit statusMessage(tr("正在与服务器通信, 请稍后再导入"));
        return;
    }
    const QString chosen = Dialogs::instance().openFileName(
        this, tr("导入 vCard 文件"), QDir::homePath(), tr("vCard 文件 (*.vcf)"));
    if (chosen.isEmpty())
        return;
    QFile file(chosen);
    if (!file.open(QIODevice::ReadOnly)) {
        Dialogs::instance().critical(this, tr("开启文件失败"),
                                     tr("错误信息:\n无法从指定文件读取内容"));
        return;
    }
    clearForm();
    VCardReader reader(&file);
    const auto readFailed = [&] {
        qCWarning(lcUi) << "vCard import:" << reader.errorString();
        Dialogs::instance().critical(this, tr("开启文件失败"),
                                     tr("错误信息:\n无法从指定文件读取内容") + u'\n' +
                                         reader.errorString());
    };
    if (m_session->isNetwork()) {
        // Read whole before anything is sent: a file that fails sends nothing, and the progress
        // knows the total.
        QList<Contact> cards;
        Contact card;
        VCardReader::Result read;
        while ((read = reader.next(&card)) == VCardReader::Card) {
            card.normalise();
            cards.append(card);
            card = Contact();
        }
        if (read == VCardReader::Failed)
            readFailed();
        else
            importToServer(cards);
        return;
    }
    VCardReader::Result last = VCardReader::Finished;
    bool canceled = false;
    QList<AccountSession::Skipped> skipped;
    int added = 0;
    {
        WorkProgress progress(this, tr("正在导入 vCard..."));
        const bool stored = m_session->addMany(
            [&](Contact *contact) {
                if (progress.wasCanceled()) {
                    canceled = true;
                    return false;
                }
                last = reader.next(contact);
                progress.step(reader.position(), reader.size());
                return last == VCardReader::Card;
            },
            &skipped, &added);
        progress.finish();
        if (!stored) {
            databaseError();
            return;
        }
    }
    emit updateActionsSignal();
    reportSkipped(skipped);
    if (canceled) {
        emit statusMessage(tr("vCard 导入已取消, 已导入 %1 张名片").arg(added));
    } else if (last == VCardReader::Failed) {
        readFailed();
    } else if (last == VCardReader::Finished) {
        emit statusMessage(tr("vCard imported successfully!"));
    }
}

void AddressWidget::importToServer(const QList<Contact> &cards)
{
    auto *upload = new CardUpload(m_session, m_network, cards, this);
    connect(upload, &CardUpload::finished, this,
            [this](int added, const QList<AccountSession::Skipped> &skipped, const QString &note,
                   bool canceled) {
                emit updateActionsSignal();
                reportSkipped(skipped, note);
                if (canceled)
                    emit statusMessage(tr("vCard 导入已取消, 已导入 %1 张名片").arg(added));
                else if (!note.isEmpty())
                    emit statusMessage(tr("vCard 导入已中止, 已导入 %1 张名片").arg(added));
                else
                    emit statusMessage(tr("vCard imported successfully!"));
            });
    upload->start();
}

void AddressWidget::reportSkipped(const QList<AccountSession::Skipped> &skipped,
                                  const QString &note)
{
    constexpr int Named = 5;
    if (skipped.isEmpty() && note.isEmpty())
        return;
    QStringList lines;
    if (!note.isEmpty())
        lines << note;
    if (!skipped.isEmpty())
        lines << tr("%1 张名片未能导入:").arg(skipped.size());
    for (qsizetype i = 0; i < qMin<qsizetype>(Named, skipped.size()); ++i) {
        const AccountSession::Skipped &s = skipped[i];
        QString name = Contact::displayText(s.name, s.firstName).trimmed();
        if (name.isEmpty())
            name = tr("(无名)");
        QString reason;
        switch (s.reason) {
        case AccountSession::Refusal::EmptyName:
            reason = tr("联系人 名 不可为空");
            break;
        case AccountSession::Refusal::Duplicate:
            reason = tr("数据库已存有该联系人信息");
            break;
        case AccountSession::Refusal::ServerRefused:
            reason = tr("服务器未接受此联系人");
            break;
        case AccountSession::Refusal::NotSent:
            reason = tr("与服务器的通信失败");
            break;
        }
        lines << name + QStringLiteral(": ") + reason;
    }
    if (skipped.size() > Named)
        lines << QStringLiteral("...");
    Dialogs::instance().warning(this, tr("导入警告"), lines.join(u'\n'));
}

void AddressWidget::printContacts(int which, bool pdf)
{
    QPrinter printer(QPrinter::ScreenResolution);
    QString path;
    if (pdf) {
        path = Dialogs::instance().saveFileName(this, tr("保存 PDF 文件"), QDir::homePath(),
                                                tr("PDF 文件 (*.pdf)"));
        if (path.isEmpty())
            return;
        path = FileNames::withSuffix(path, QStringLiteral(".pdf"));
    } else if (!Dialogs::instance().print(this, &printer)) {
        return;
    }
    bool ok = true;
    const QList<Contact> contacts = chosenContacts(which == AllContacts, &ok);
    if (!ok)
        return;
    WorkProgress progress(this, pdf ? tr("正在导出 PDF...") : tr("正在打印..."));
    bool canceled = false;
    const auto paged = [&](int done, int pages) {
        canceled = !progress.step(done, pages);
        return !canceled;
    };
    ContactPrinter out;
    ok = pdf ? out.writePdf(contacts, path, paged) : out.print(contacts, &printer, paged);
    progress.finish();
    if (canceled) {
        emit statusMessage(pdf ? tr("PDF 导出已取消") : tr("打印已取消"));
    } else if (!ok) {
        qCWarning(lcUi) << (pdf ? "PDF export:" : "printing:") << out.errorString();
        if (pdf)
            Dialogs::instance().critical(this, tr("保存过程出错"),
                                         tr("错误信息:\n无法在指定文件中写入数据"));
        else
            Dialogs::instance().critical(this, tr("打印出错"),
                                         tr("错误信息:\n") + out.errorString());
    } else {
        emit statusMessage(pdf ? tr("PDF 导出成功") : tr("打印完成"));
    }
}
