#include "addresswidget.h"
#include "clienttest.h"
#include "contactlistwidget.h"
#include "mainwidget.h"
#include "scripteddialogs.h"
#include "testhome.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <memory>

using namespace ClientTest;

class TestAddressWidget : public QObject
{
    Q_OBJECT

    ScriptedDialogs m_dialogs;
    std::unique_ptr<MainWidget> m_page;

    MainWidget *build()
    {
        m_page = std::make_unique<MainWidget>();
        m_page->show();
        return m_page.get();
    }
    AddressWidget *form() { return m_page->addressWidget(); }
    QListWidget *list() { return m_page->contactListWidget()->listWidget(); }
    QStringList listTexts()
    {
        QStringList texts;
        for (int i = 0; i < list()->count(); ++i)
            texts << list()->item(i)->text();
        return texts;
    }
    template <typename T> T *field(const char *name)
    {
        return form()->findChild<T *>(QLatin1String(name));
    }

private slots:
    void init()
    {
        resetStore();
        m_dialogs.shown.clear();
        // Replacing a connection that is still registered or in use is a fault here.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("connection")));
    }
    void cleanup() { m_page.reset(); }

    // --- opening the current account

    void noAccountOpensNothingAndSaysNothing()
    {
        build();
        QVERIFY(!form()->database().isValid());
        QVERIFY(!form()->openDatabase());
        QVERIFY(!form()->loadList());
        QVERIFY(m_dialogs.shown.isEmpty());
    }

    void currentAccountIsOpenedAndListed()
    {
        addAccount(QStringLiteral("a"), {contact(QStringLiteral("王"), QStringLiteral("五")),
                                         contact(QStringLiteral("Li"), QStringLiteral("Si Ming")),
                                         contact(QStringLiteral("Zhang"), QString()),
                                         contact(QStringLiteral("Ba"), QStringLiteral("x"))});
        build();
        QVERIFY(form()->database().isOpen());
        QCOMPARE(form()->database().databaseName(), Accounts::databasePath(QStringLiteral("a")));
        QCOMPARE(form()->database().connectionName(),
                 QLatin1String(QSqlDatabase::defaultConnection));
        QCOMPARE(listTexts(), (QStringList{"Ba x", "Li Si Ming", "Zhang ", "王 五"}));
        QVERIFY(list()->selectedItems().isEmpty());
        QVERIFY(m_dialogs.shown.isEmpty());
    }

    void missingFileIsReportedAndNotCreated()
    {
        addAccount(QStringLiteral("gone"));
        QVERIFY(QFile::remove(Accounts::databasePath(QStringLiteral("gone"))));
        build();
        QCOMPARE(m_dialogs.shown.size(), 1);
        QCOMPARE(m_dialogs.last().kind, QStringLiteral("critical"));
        QCOMPARE(m_dialogs.last().title, QStringLiteral("数据库出错"));
        QCOMPARE(m_dialogs.last().text, QStringLiteral("数据库不存在!"));
        QCOMPARE(list()->count(), 0);
        QVERIFY(!QFile::exists(Accounts::databasePath(QStringLiteral("gone"))));
    }

    void emptyCurrentNameLooksForDotSqlite()
    {
        addAccount(QStringLiteral("a"));
        Accounts::setCurrent(QString());
        build();
        QVERIFY(m_dialogs.wasShown(QStringLiteral("数据库出错"), QStringLiteral("数据库不存在!")));
    }

    void unopenableFileIsReported()
    {
        addAccount(QStringLiteral("dir"));
        const QString path = Accounts::databasePath(QStringLiteral("dir"));
        QVERIFY(QFile::remove(path));
        QVERIFY(QDir().mkpath(path));
        build();
        QCOMPARE(m_dialogs.shown.size(), 1);
        QCOMPARE(m_dialogs.last().title, QStringLiteral("数据库出错"));
        QCOMPARE(m_dialogs.last().text, QStringLiteral("无法开启数据库!"));
        QCOMPARE(list()->count(), 0);
    }

    void reopeningReplacesTheConnection()
    {
        addAccount(QStringLiteral("a"), {contact(QStringLiteral("A"), QStringLiteral("1"))});
        addAccount(QStringLiteral("b"), {contact(QStringLiteral("B"), QStringLiteral("2"))});
        Accounts::setCurrent(QStringLiteral("a"));
        build();
        QCOMPARE(listTexts(), QStringList{"A 1"});
        Accounts::setCurrent(QStringLiteral("b"));
        QVERIFY(form()->openDatabase());
        QVERIFY(form()->loadList());
        QCOMPARE(listTexts(), QStringList{"B 2"});
        form()->closeDatabase();
        QVERIFY(!QSqlDatabase::contains(QLatin1String(QSqlDatabase::defaultConnection)));
    }

    // --- the password gate

    void protectedAccountHoldsItsListBack()
    {
        addAccount(QStringLiteral("p"), {contact(QStringLiteral("A"), QStringLiteral("1"))}, false,
                   QStringLiteral("pw"));
        m_page = std::make_unique<MainWidget>();
        QSignalSpy asked(form(), &AddressWidget::passwordRequested);
        // The constructor already asked once, before anyone could listen.
        QVERIFY(!form()->passwordVerified());
        QCOMPARE(list()->count(), 0);
        QVERIFY(!form()->loadList());
        QCOMPARE(asked.count(), 1);
        QCOMPARE(list()->count(), 0);

        form()->setPasswordVerified(true);
        QVERIFY(form()->loadList());
        QCOMPARE(asked.count(), 1);
        QCOMPARE(listTexts(), QStringList{"A 1"});
    }

    void unprotectedAccountNeverAsks()
    {
        addAccount(QStringLiteral("u"), {contact(QStringLiteral("A"), QStringLiteral("1"))});
        build();
        QSignalSpy asked(form(), &AddressWidget::passwordRequested);
        QVERIFY(form()->loadList());
        QCOMPARE(asked.count(), 0);
    }

    // --- the form's modes

    void newContactEntersEditMode()
    {
        addAccount(QStringLiteral("a"));
        build();
        QSignalSpy mode(form(), &AddressWidget::editModeSignal);
        form()->addContact();
        QCOMPARE(mode.count(), 2); // cleared first, then editable
        QCOMPARE(mode.last().at(0).toBool(), true);
        QVERIFY(form()->isEditable());
        QVERIFY(!form()->isEditing());
        QCOMPARE(field<QLineEdit>("nameEdit")->text(), QStringLiteral("姓"));
        QCOMPARE(field<QLineEdit>("firstNameEdit")->text(), QStringLiteral("名"));
        QVERIFY(!field<QLineEdit>("workEdit")->isReadOnly());
        QVERIFY(!field<QPlainTextEdit>("notesEdit")->isReadOnly());
        QVERIFY(field<QToolButton>("saveEditButton")->isVisible());
        QVERIFY(field<QToolButton>("cancelEditButton")->isVisible());
        QVERIFY(!field<QToolButton>("mapButton")->isVisible());

        form()->clearForm();
        QCOMPARE(mode.count(), 3);
        QCOMPARE(mode.last().at(0).toBool(), false);
        QVERIFY(field<QLineEdit>("nameEdit")->text().isEmpty());
        QVERIFY(field<QLineEdit>("nameEdit")->isReadOnly());
        QVERIFY(!field<QToolButton>("saveEditButton")->isVisible());
        QVERIFY(field<QToolButton>("mapButton")->isVisible());
    }

    void editKeepsTheShownContact()
    {
        Contact c = contact(QStringLiteral("王"), QStringLiteral("五"));
        c.work = QStringLiteral("010-1234");
        c.notes = QStringLiteral("第一行\n第二行");
        c.customCount = 2;
        c.customLabel[0] = QStringLiteral("QQ");
        c.customValue[0] = QStringLiteral("123");
        c.customLabel[1] = QStringLiteral("微信");
        c.customValue[1] = QStringLiteral("wx");
        c.customLabel[2] = QStringLiteral("hidden");
        addAccount(QStringLiteral("a"), {c});
        build();
        list()->setCurrentRow(0);
        QCOMPARE(field<QLineEdit>("nameEdit")->text(), QStringLiteral("王"));
        QCOMPARE(field<QLineEdit>("workEdit")->text(), QStringLiteral("010-1234"));
        QCOMPARE(field<QPlainTextEdit>("notesEdit")->toPlainText(), c.notes);
        QCOMPARE(form()->customCount(), 2);
        QVERIFY(field<QLineEdit>("customValueEdit2")->isVisible());
        QCOMPARE(field<QLineEdit>("customLabelEdit2")->text(), QStringLiteral("微信"));
        QVERIFY(!field<QLineEdit>("customLabelEdit3")->isVisible());
        QVERIFY(!field<QToolButton>("removeCustomButton1")->isVisible());

        form()->editContactSlot();
        QVERIFY(form()->isEditing());
        QCOMPARE(field<QLineEdit>("workEdit")->text(), QStringLiteral("010-1234"));
        QVERIFY(!field<QLineEdit>("workEdit")->isReadOnly());
        QVERIFY(field<QToolButton>("removeCustomButton2")->isVisible());
        QVERIFY(!field<QToolButton>("removeCustomButton3")->isVisible());
    }

    // --- the list itself

    void listKeepsEntriesSorted()
    {
        build();
        ContactListWidget *contacts = m_page->contactListWidget();
        contacts->addContact(QStringLiteral("b 2"));
        contacts->addContact(QStringLiteral("a 1"));
        contacts->addContact(QStringLiteral("c 3"));
        QCOMPARE(listTexts(), (QStringList{"a 1", "b 2", "c 3"}));
        QVERIFY(!list()->item(0)->icon().isNull());
        QCOMPARE(list()->selectionMode(), QAbstractItemView::SingleSelection);
    }
};

PELICARD_TEST_MAIN(TestAddressWidget)
#include "tst_addresswidget.moc"
