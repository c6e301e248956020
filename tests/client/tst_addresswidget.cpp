#include "accountsession.h"
#include "clienttest.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

using namespace ClientTest;

namespace {

void selectText(const MainWindow &w, const QString &text)
{
    const int row = listTexts(list(w)).indexOf(text);
    QVERIFY2(row >= 0, qPrintable(text));
    selectRow(list(w), row);
}

QList<Contact> stored(const QString &account = "a")
{
    QList<Contact> all;
    withDatabase(Accounts::databasePath(account),
                 [&](QSqlDatabase &db) { all = ContactStore(db).all(); });
    return all;
}

QStringList storedTexts(const QString &account = "a")
{
    QStringList texts;
    for (const Contact &c : stored(account))
        texts << c.displayText();
    return texts;
}

void runSql(const QString &sql, const QString &account = "a")
{
    withDatabase(Accounts::databasePath(account), [&](QSqlDatabase &db) {
        QSqlQuery query(db);
        QVERIFY2(query.exec(sql), qPrintable(query.lastError().text()));
    });
}

} // namespace

class TestAddressWidget : public QObject
{
    Q_OBJECT

    ScriptedDialogs m_dialogs;

private slots:
    void init()
    {
        freshStart(m_dialogs);
    }

    void unusableFileIsReported_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("text");
        QTest::newRow("missing") << QByteArray() << "数据库不存在!";
        QTest::newRow("directory") << QByteArray("/") << "无法开启数据库!";
        QTest::newRow("garbage") << QByteArray(4096, 'x') << "无法开启数据库!";
        QTest::newRow("empty file") << QByteArray("") << "无法开启数据库!";
    }

    void unusableFileIsReported()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, text);
        addAccount("a", {"A 1"});
        const QString path = Accounts::databasePath("a");
        QVERIFY(QFile::remove(path));
        if (content == "/") {
            QVERIFY(QDir().mkpath(path));
        } else if (!content.isNull()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        }
        AccountSession session;
        MainWidget page(&session);
        QVERIFY(!page.addressWidget()->openDatabase());
        QCOMPARE(m_dialogs.shown.size(), 1);
        QCOMPARE(m_dialogs.last().kind + '|' + m_dialogs.last().title, "critical|数据库出错");
        // The reason follows on its own line.
        QCOMPARE(m_dialogs.last().text.section(u'\n', 0, 0), text);
        QCOMPARE(m_dialogs.last().text.contains(u'\n'), text != "数据库不存在!");
        QCOMPARE(page.contactListWidget()->count(), 0);
        QVERIFY(!session.isOpen());
        // Nothing is made or written in place of the file.
        QCOMPARE(QFileInfo::exists(path), !content.isNull());
        if (content.size() > 1) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), content);
        }
    }

    void listIsSortedAndSelectionShowsThatRecord()
    {
        addAccount("a", {"王 五", "Li Si Ming", "Zhang ", "Ba x"});
        // Equal pairs and a given name with inner and outer spaces: only the id tells them.
        runSql("INSERT INTO contacts (name, firstName, work) VALUES ('Li', 'Si Ming', 'second')");
        runSql("INSERT INTO contacts (name, firstName, work) VALUES ('Qi', ' a  b ', 'spaced')");
        MainWindow w;
        QCOMPARE(listTexts(list(w)),
                 (QStringList{"Ba x", "Li Si Ming", "Li Si Ming", "Qi  a  b ", "Zhang ", "王 五"}));
        selectRow(list(w), 2);
        QCOMPARE(edit(w, "workEdit")->text(), "second");
        selectRow(list(w), 1);
        QCOMPARE(edit(w, "firstNameEdit")->text(), "Si Ming");
        QCOMPARE(edit(w, "workEdit")->text(), QString());
        selectRow(list(w), 3);
        QCOMPARE(edit(w, "firstNameEdit")->text(), " a  b ");
        QCOMPARE(edit(w, "workEdit")->text(), "spaced");
    }

    void adding_data()
    {
        QTest::addColumn<QString>("name"); // "-" empties the field, "" leaves the prefilled text
        QTest::addColumn<QString>("firstName");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QStringList>("after");
        auto row = [](const char *tag, const char *name, const char *firstName, const char *box,
                      const QStringList &after) {
            QTest::newRow(tag) << QString(name) << QString(firstName) << QString(box) << after;
        };
        row("untouched", "", "", "", {"A 1", "姓 名"});
        row("empty given name", "Zhao", "-", "", {"A 1", "Zhao "});
        row("duplicate", "A", "1", "warning|数据库警告|数据库已存有该联系人信息", {"A 1"});
        row("empty name", "-", "x", "warning|错误|联系人 名 不可为空", {"A 1"});
    }

    void adding()
    {
        QFETCH(QString, name);
        QFETCH(QString, firstName);
        QFETCH(QString, box);
        QFETCH(QStringList, after);
        addAccount("a", {"A 1"});
        MainWindow w;
        find(&w, "newContactAction")->trigger();
        if (!name.isEmpty())
            edit(w, "nameEdit")->setText(name == "-" ? QString() : name);
        if (!firstName.isEmpty())
            edit(w, "firstNameEdit")->setText(firstName == "-" ? QString() : firstName);
        edit(w, "homeEdit")->setText("typed");
        click(&w, "saveEditButton");
        QCOMPARE(boxes(m_dialogs), box.isEmpty() ? QStringList() : QStringList{box});
        QCOMPARE(storedTexts(), after);
        QCOMPARE(listTexts(list(w)), after);
        if (box.isEmpty()) {
            // Saved: the form is empty again and nothing is selected.
            QVERIFY(!form(w)->isEditable());
            QCOMPARE(edit(w, "homeEdit")->text(), QString());
            QVERIFY(!list(w)->hasSelection());
            QVERIFY(find(&w, "newContactAction")->isEnabled());
        } else {
            QVERIFY(form(w)->isEditable());
            QCOMPARE(edit(w, "homeEdit")->text(), "typed");
        }
    }

    void editingAndCancelling()
    {
        addAccount("a", {"A 1", "B 2"});
        MainWindow w;
        selectText(w, "B 2");
        find(&w, "editContactAction")->trigger();
        QVERIFY(form(w)->isEditing());
        edit(w, "nameEdit")->setText("C");
        click(&w, "cancelEditButton");
        QVERIFY(!form(w)->isEditable());
        QCOMPARE(edit(w, "nameEdit")->text(), "B");
        QVERIFY(m_dialogs.shown.isEmpty());

        find(&w, "editContactAction")->trigger();
        edit(w, "nameEdit")->setText("0");
        edit(w, "mobileEdit")->setText("139");
        click(&w, "saveEditButton");
        QCOMPARE(storedTexts(), (QStringList{"0 2", "A 1"}));
        QCOMPARE(stored().first().mobile, "139");
        // The entry moved to its new place and stays the one shown.
        QCOMPARE(listTexts(list(w)), (QStringList{"0 2", "A 1"}));
        QCOMPARE(list(w)->currentText(), "0 2");
        QCOMPARE(edit(w, "mobileEdit")->text(), "139");
        QVERIFY(!form(w)->isEditable());
        QVERIFY(find(&w, "editContactAction")->isEnabled());
    }

    void deleting_data()
    {
        QTest::addColumn<QStringList>("contacts");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("no") << QStringList{"A 1", "B 2"} << "B 2" << QMessageBox::No
                            << QStringList{"A 1", "B 2"};
        QTest::newRow("yes") << QStringList{"A 1", "B 2", "C 3"} << "B 2" << QMessageBox::Yes
                             << QStringList{"A 1", "C 3"};
        QTest::newRow("last entry")
            << QStringList{"A 1"} << "A 1" << QMessageBox::Yes << QStringList();
        QTest::newRow("several words") << QStringList{"Li Si Ming", "Li Si"} << "Li Si Ming"
                                       << QMessageBox::Yes << QStringList{"Li Si"};
    }

    void deleting()
    {
        QFETCH(QStringList, contacts);
        QFETCH(QString, chosen);
        QFETCH(QMessageBox::StandardButton, answer);
        QFETCH(QStringList, after);
        addAccount("a", contacts);
        MainWindow w;
        selectText(w, chosen);
        m_dialogs.answers = {answer};
        find(&w, "deleteContactAction")->trigger();
        QCOMPARE(boxes(m_dialogs),
                 QStringList{"question|删除联系人|您真的要删除联系人: " + chosen});
        QCOMPARE(storedTexts(), after);
        QCOMPARE(listTexts(list(w)), after);
        // The neighbour takes the deleted entry's place in the list and in the form.
        QCOMPARE(find(&w, "deleteContactAction")->isEnabled(), !after.isEmpty());
        QCOMPARE(
            Contact::displayText(edit(w, "nameEdit")->text(), edit(w, "firstNameEdit")->text()),
            list(w)->count() ? list(w)->currentText() : " ");
    }

    void customRows()
    {
        addAccount("a", {"A 1"});
        MainWindow w;
        selectText(w, "A 1");
        find(&w, "editContactAction")->trigger();
        for (int i = 1; i <= 6; ++i) {
            click(&w, "addCustomButton");
            QCOMPARE(edit(w, "customLabelEdit" + QString::number(i))->text(), "标签:");
            edit(w, "customValueEdit" + QString::number(i))->setText(QString::number(i));
        }
        QVERIFY(!find<QAbstractButton>(&w, "addCustomButton")->isEnabled());
        // The seventh press shows nothing.
        form(w)->addCustomEditField();
        QCOMPARE(form(w)->customCount(), 6);

        click(&w, "removeCustomButton3");
        QCOMPARE(form(w)->customCount(), 5);
        QVERIFY(find<QAbstractButton>(&w, "addCustomButton")->isEnabled());
        QVERIFY(edit(w, "customValueEdit5")->isVisibleTo(&w));
        QVERIFY(!edit(w, "customValueEdit6")->isVisibleTo(&w));
        click(&w, "saveEditButton");

        const Contact saved = stored().first();
        QCOMPARE(saved.customCount, 5);
        const QStringList values{saved.customValue.begin(), saved.customValue.end()};
        QCOMPARE(values, (QStringList{"1", "2", "4", "5", "6", ""}));
        // Shown again from the file: the five rows in order.
        selectRow(list(w), 0);
        QCOMPARE(form(w)->customCount(), 5);
        QCOMPARE(edit(w, "customValueEdit3")->text(), "4");

        // A count from elsewhere never addresses a seventh row.
        runSql("UPDATE contacts SET customCount = 9");
        QVERIFY(form(w)->loadList());
        selectRow(list(w), 0);
        QCOMPARE(form(w)->customCount(), 6);
        find(&w, "editContactAction")->trigger();
        QVERIFY(!find<QAbstractButton>(&w, "addCustomButton")->isEnabled());
    }

    // Typing filters the list; what matches is the index's and store's tables' business.
    void search()
    {
        addAccount("a", {"A 1", "B 2", "C 3"});
        runSql("UPDATE contacts SET notes = 'memo' WHERE name = 'B'");
        MainWindow w;
        const QList<std::pair<QString, QStringList>> cases{
            {"emo", {"B 2"}}, {"zzz", {}}, {"", {"A 1", "B 2", "C 3"}}};
        for (const auto &[text, found] : cases) {
            searchField(w)->setText(text);
            QCOMPARE(text + ": " + listTexts(list(w)).join(','), text + ": " + found.join(','));
        }
    }

    // The file refuses every change, as a read-only or full one would.
    void failingStatementLosesNothingTyped()
    {
        addAccount("a", {"A 1"});
        for (const char *event : {"INSERT", "UPDATE", "DELETE"})
            runSql(QStringLiteral("CREATE TRIGGER refuse%1 BEFORE %1 ON contacts BEGIN SELECT "
                                  "RAISE(ABORT, 'disk is full'); END")
                       .arg(QLatin1String(event)));
        MainWindow w;
        const QString box = "critical|数据库出错|disk is full";

        find(&w, "newContactAction")->trigger();
        edit(w, "nameEdit")->setText("New");
        click(&w, "saveEditButton");
        QCOMPARE(boxes(m_dialogs), QStringList{box});
        QVERIFY(form(w)->isEditable());
        QCOMPARE(edit(w, "nameEdit")->text(), "New");
        QCOMPARE(listTexts(list(w)), QStringList{"A 1"});
        // A new contact's cancel asks first; No (the default answer) keeps the typed texts.
        click(&w, "cancelEditButton");
        QCOMPARE(edit(w, "nameEdit")->text(), "New");
        m_dialogs.answers = {QMessageBox::Yes};
        click(&w, "cancelEditButton");
        QCOMPARE(edit(w, "nameEdit")->text(), QString());
        QVERIFY(!form(w)->isEditable());
        const QString question = "question|取消|请再次确认是否取消?";
        QCOMPARE(boxes(m_dialogs), (QStringList{box, question, question}));

        selectText(w, "A 1");
        find(&w, "editContactAction")->trigger();
        edit(w, "nameEdit")->setText("Changed");
        click(&w, "saveEditButton");
        QVERIFY(form(w)->isEditing());
        QCOMPARE(edit(w, "nameEdit")->text(), "Changed");
        QCOMPARE(listTexts(list(w)), QStringList{"A 1"});
        click(&w, "cancelEditButton");

        m_dialogs.shown.clear();
        m_dialogs.answers = {QMessageBox::Yes};
        find(&w, "deleteContactAction")->trigger();
        QCOMPARE(boxes(m_dialogs).last(), box);
        QCOMPARE(listTexts(list(w)), QStringList{"A 1"});
        QCOMPARE(storedTexts(), QStringList{"A 1"});
    }

    void linkButtons()
    {
        addAccount("a", {"A 1", "B 2"});
        runSql(
            "UPDATE contacts SET town = 'Xi an&co', email = 'a b@c.d', web = 'HTTPS://x.org/a b' "
            "WHERE name = 'A'");
        runSql("UPDATE contacts SET web = 'example.org' WHERE name = 'B'");
        MainWindow w;
        UrlRecorder recorder;
        selectText(w, "A 1");
        click(&w, "mapButton");
        click(&w, "mailButton");
        click(&w, "webButton");
        selectText(w, "B 2");
        click(&w, "mapButton");
        click(&w, "webButton");
        QCOMPARE(recorder.urls,
                 (QStringList{"http://maps.google.com/maps?hl=zh-CN&tab=wl&f=q&source=s_q&geocode="
                              "&q=Xi%20an%26co",
                              "mailto:a%20b@c.d", "https://x.org/a%20b",
                              "http://maps.google.com/maps?hl=zh-CN&tab=wl&f=q&source=s_q&geocode="
                              "&q=",
                              "http://example.org"}));
    }
};

PELICARD_TEST_MAIN(TestAddressWidget)
#include "tst_addresswidget.moc"
