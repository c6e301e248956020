#include "accountsession.h"
#include "clienttest.h"
#include "databasefile.h"
#include "eightbitcodec.h"
#include "networkrunner.h"
#include "newaccountwidget.h"
#include "passwidget.h"
#include "passwords.h"
#include "settingswidget.h"

#include <QDirIterator>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QSqlQuery>
#include <QStatusBar>

using namespace ClientTest;

namespace {

QString hex(const QByteArray &digest)
{
    return "0x" + digest.toHex();
}

// Sets a control of the page as the user would, leaving a line edit afterwards.
void apply(QWidget *page, const QString &step)
{
    const QString name = step.section('=', 0, 0);
    const QString value = step.section('=', 1);
    if (auto *box = page->findChild<QCheckBox *>(name)) {
        box->setChecked(value == "1");
    } else if (auto *spin = page->findChild<QSpinBox *>(name)) {
        spin->setValue(value.toInt());
    } else {
        QLineEdit *field = find<QLineEdit>(page, name);
        field->setText(value);
        emit field->editingFinished();
    }
}

} // namespace

class TestAccountPages : public QObject
{
    Q_OBJECT

    ScriptedDialogs m_dialogs;

private slots:
    void init()
    {
        freshStart(m_dialogs);
    }

    void promptGuardsTheAccount()
    {
        addAccount("甲", {"李 四"}, false, "密码1");
        MainWindow w;
        QPointer<PassWidget> prompt = form(w)->passWidget();
        QVERIFY(prompt && prompt->isVisible() && prompt->isWindow());
        QCOMPARE(prompt->windowTitle(), "请求密码");
        QVERIFY(listTexts(list(w)).isEmpty());
        QVERIFY(!prompt->verifyButton()->isEnabled());
        QVERIFY(!prompt->close()); // only its buttons end it

        prompt->passwordEdit()->setText("密码");
        prompt->verifyButton()->click();
        QCOMPARE(boxes(m_dialogs), QStringList{"warning|密码请求|密码错误!"});
        QCOMPARE(prompt->password(), "密码");
        prompt->passwordEdit()->setText("密码1");
        prompt->verifyButton()->click();
        QVERIFY(deleted(prompt));
        QCOMPARE(listTexts(list(w)), QStringList{"李 四"});

        // Its own entry asks again; cancelled, the account shows nothing.
        find<QMenu>(&w, "accountMenu")->actions().at(3)->trigger();
        prompt = form(w)->passWidget();
        QVERIFY(prompt);
        prompt->cancelButton()->click();
        QVERIFY(deleted(prompt));
        for (const char *text : {"李", "%", ""}) {
            searchField(w)->setText(text);
            QVERIFY(listTexts(list(w)).isEmpty());
        }
        QVERIFY(w.session()->isOpen());
    }

    // Each row opens an account (local or network, protected by "pw" or not), takes the steps
    // on the settings page, leaves it, and expects the account's keys and the boxes.
    void settingsPage_data()
    {
        QTest::addColumn<bool>("network");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("keys"); // besides type and localRevision
        QTest::addColumn<int>("restarts");     // restart messages
        const QString pw = hex(Passwords::md5Digest("pw"));
        const QString server = hex(Passwords::sha1Digest("server"));
        QTest::newRow("unchanged")
            << false << "pw" << QStringList{} << QStringList{"pass=" + pw, "usePass=true"} << 0;
        QTest::newRow("new password")
            << false << "pw" << QStringList{"passwordEdit=新"}
            << QStringList{"pass=" + hex(Passwords::md5Digest("新")), "usePass=true"} << 0;
        QTest::newRow("toggled and left empty")
            << false << "pw" << QStringList{"usePasswordCheckBox=0", "usePasswordCheckBox=1"}
            << QStringList{"pass=" + pw, "usePass=false"} << 0;
        QTest::newRow("protected from now on")
            << false << "" << QStringList{"usePasswordCheckBox=1", "passwordEdit=abc"}
            << QStringList{"pass=" + hex(Passwords::md5Digest("abc")), "usePass=true"} << 0;
        QTest::newRow("the placeholder as a first password")
            << false << "" << QStringList{"usePasswordCheckBox=1", "passwordEdit=password"}
            << QStringList{"usePass=false"} << 0;
        QTest::newRow("network placeholders")
            << true << "pw" << QStringList{"portSpinBox=70"}
            << QStringList{"host=127.0.0.1", "pass=" + pw, "port=70", "serverPass=" + server,
                           "usePass=true"}
            << 0;
        QTest::newRow("network server changed")
            << true << "" << QStringList{"hostEdit=10.0.0.2", "serverPasswordEdit="}
            << QStringList{"host=10.0.0.2", "port=1639",
                           "serverPass=" + hex(Passwords::sha1Digest("")), "usePass=false"}
            << 2;
    }

    void settingsPage()
    {
        QFETCH(bool, network);
        QFETCH(QString, password);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, keys);
        QFETCH(int, restarts);
        addAccount("a", {}, network, password);
        MainWindow w;
        if (auto *prompt = form(w)->passWidget()) {
            prompt->passwordEdit()->setText(password);
            prompt->verifyButton()->click();
        }
        QTRY_VERIFY(!w.network()->isBusy());
        m_dialogs.shown.clear();
        find(&w, "settingsAction")->trigger();
        for (const QString &step : steps)
            apply(w.settingsWidget(), step);
        find(&w, "settingsAction")->trigger();
        QCOMPARE(w.currentPage(), int(MainWindow::ContactPage));
        keys << (network ? QStringList{"localRevision=0", "type=network"}
                         : QStringList{"type=local"});
        keys.sort();
        QCOMPARE(groupOf("a"), keys);
        QCOMPARE(groupOf("Pelicard"), (QStringList{"blurBackground=true", "updates=true"}));
        QCOMPARE(
            boxes(m_dialogs).count("information|需要重启|请重启澄岚联系人管理器以使新的配置生效"),
            restarts);
        QCOMPARE(m_dialogs.shown.size(), restarts + int(steps.contains("passwordEdit=password")));
    }

    // Exported twice under one name: the suffix is added, and the second copy is refused.
    void exportDatabase()
    {
        addAccount("a", {"李 四"});
        MainWindow w;
        const QString chosen = QDir::homePath() + "/out";
        m_dialogs.fileNames << chosen << chosen;
        find(&w, "exportDatabaseAction")->trigger();
        QCOMPARE(w.statusBar()->currentMessage(), "数据库导出成功!");
        QVERIFY(DatabaseFile(chosen + ".sqlite").isContactsDatabase());
        QVERIFY(QFile::resize(chosen + ".sqlite", 4));
        find(&w, "exportDatabaseAction")->trigger();
        QCOMPARE(boxes(m_dialogs),
                 (QStringList{"save|导出数据库文件|SQLITE 文件 (*.sqlite)",
                              "save|导出数据库文件|SQLITE 文件 (*.sqlite)",
                              "critical|数据库导出出错|在导出数据库时产生错误!"}));
        QCOMPARE(QFileInfo(chosen + ".sqlite").size(), 4);
        QVERIFY(QFile::remove(chosen + ".sqlite"));
    }

    void importDatabase_data()
    {
        QTest::addColumn<QString>("source"); // contacts, text, other table, own file
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QString>("box");
        QTest::newRow("contacts") << "contacts" << int(QMessageBox::Yes) << QStringList{"新 人"}
                                  << "";
        QTest::newRow("answered No")
            << "contacts" << int(QMessageBox::No) << QStringList{"李 四"} << "";
        QTest::newRow("not a database")
            << "text" << int(QMessageBox::Yes) << QStringList{"李 四"}
            << "critical|文件错误|所选文件不是联系人数据库!\n文件中没有联系人表";
        QTest::newRow("no contacts table")
            << "other table" << int(QMessageBox::Yes) << QStringList{"李 四"}
            << "critical|文件错误|所选文件不是联系人数据库!\n文件中没有联系人表";
        QTest::newRow("its own file")
            << "own file" << int(QMessageBox::Yes) << QStringList{"李 四"} << "";
    }

    void importDatabase()
    {
        QFETCH(QString, source);
        QFETCH(int, answer);
        QFETCH(QStringList, listed);
        QFETCH(QString, box);
        addAccount("a", {"李 四"});
        QString path = QDir::homePath() + "/source.sqlite";
        QFile::remove(path);
        if (source == "contacts") {
            createContactsFile(path, {"新 人"});
        } else if (source == "text") {
            QFile text(path);
            QVERIFY(text.open(QIODevice::WriteOnly) && text.write("not SQLite\n") > 0);
        } else if (source == "other table") {
            withDatabase(path, [](QSqlDatabase &db) {
                QVERIFY(QSqlQuery(db).exec("CREATE TABLE other (x)"));
            });
        } else {
            path = Accounts::databasePath("a");
        }
        MainWindow w;
        m_dialogs.fileNames << path;
        m_dialogs.answers << QMessageBox::StandardButton(answer);
        find(&w, "importDatabaseAction")->trigger();
        QStringList expected{"open|导入数据库|SQLITE 文件 (*.sqlite)",
                             "question|导入数据库|您真的要将当前数据库替换为外部数据库吗?"};
        if (!box.isEmpty())
            expected << box;
        QCOMPARE(boxes(m_dialogs), expected);
        QCOMPARE(listTexts(list(w)), listed);
        QCOMPARE(w.statusBar()->currentMessage() == "数据库导入成功!",
                 answer == QMessageBox::Yes && box.isEmpty());
        // The file in place is what the list shows.
        searchField(w)->setText(listed[0].left(1));
        QCOMPARE(listTexts(list(w)), listed);
    }

    // Each row creates the accounts, opens one, answers the question and expects the
    // accounts left with the first of them open.
    void deleteAccount_data()
    {
        QTest::addColumn<QStringList>("accounts");
        QTest::addColumn<QString>("current");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("left");
        const QStringList three{"甲", "乙", "丙"};
        QTest::newRow("the first")
            << three << "甲" << int(QMessageBox::Yes) << QStringList{"乙", "丙"};
        QTest::newRow("a middle one")
            << three << "乙" << int(QMessageBox::Yes) << QStringList{"甲", "丙"};
        QTest::newRow("answered No") << three << "乙" << int(QMessageBox::No) << three;
        QTest::newRow("the only one")
            << QStringList{"甲"} << "甲" << int(QMessageBox::Yes) << QStringList{};
    }

    void deleteAccount()
    {
        QFETCH(QStringList, accounts);
        QFETCH(QString, current);
        QFETCH(int, answer);
        QFETCH(QStringList, left);
        for (const QString &name : accounts)
            addAccount(name, {name + " 一"});
        QVERIFY(Accounts::setCurrent(current));
        {
            MainWindow w;
            m_dialogs.answers << QMessageBox::StandardButton(answer);
            find(&w, "deleteAccountAction")->trigger();
            QCOMPARE(boxes(m_dialogs),
                     QStringList{"question|删除帐户|您真的要删除  " + current + "?"});
            QCOMPARE(Accounts::names(), left);
            QCOMPARE(QFile::exists(Accounts::databasePath(current)), left.contains(current));
            const QString open = answer == QMessageBox::Yes ? left.value(0) : current;
            if (answer == QMessageBox::Yes) {
                QCOMPARE(Accounts::current(), open);
                QCOMPARE(w.currentDatabase(), open);
                QCOMPARE(find<QMenu>(&w, "accountMenu")->actions().size(), 3 + left.size());
            }
            QCOMPARE(listTexts(list(w)),
                     open.isEmpty() ? QStringList() : QStringList{open + " 一"});
            QCOMPARE(find(&w, "deleteAccountAction")->isEnabled(), !left.isEmpty());
        }
        if (left.isEmpty()) {
            MainWindow next;
            QVERIFY(next.newAccountWidget());
        }
    }

    // What is typed into the wizard, the prompt and the settings page stays off the disk.
    void noPasswordInClear()
    {
        const QStringList typed{"Geheim-甲1", "Falsch-乙2", "Neu-丙3", "Server-丁4", "Srv-戊5"};
        {
            MainWindow w;
            QPointer<NewAccountWidget> wizard = w.newAccountWidget();
            find<QCheckBox>(wizard, "usePasswordCheckBox")->setChecked(true);
            find<QLineEdit>(wizard, "passwordEdit")->setText(typed[0]);
            fillFirstPage(wizard, "网", true);
            find<QSpinBox>(wizard, "portSpinBox")->setValue(61); // nobody listens
            find<QLineEdit>(wizard, "serverPasswordEdit")->setText(typed[3]);
            click(wizard, "networkNextButton");
            QVERIFY(deleted(wizard));
            for (const QString &attempt : {typed[1], typed[0]}) {
                form(w)->passWidget()->passwordEdit()->setText(attempt);
                form(w)->passWidget()->verifyButton()->click();
            }
            QTRY_VERIFY(!w.network()->isBusy());
            find(&w, "settingsAction")->trigger();
            apply(w.settingsWidget(), "passwordEdit=" + typed[2]);
            apply(w.settingsWidget(), "serverPasswordEdit=" + typed[4]);
            find(&w, "settingsAction")->trigger();
            QVERIFY(Accounts::checkPassword("网", typed[2]));
            QCOMPARE(Accounts::serverPasswordDigest("网"), Passwords::sha1Digest(typed[4]));
        }
        QDirIterator files(QDir::homePath(), QDir::Files | QDir::Hidden,
                           QDirIterator::Subdirectories);
        int read = 0;
        while (files.hasNext()) {
            QFile file(files.next());
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray content = file.readAll();
            ++read;
            for (const QString &secret : typed)
                for (const QByteArray &bytes :
                     {secret.toUtf8(), EightBitCodec::encode(secret),
                      QByteArray(reinterpret_cast<const char *>(secret.utf16()),
                                 secret.size() * 2)})
                    QVERIFY2(!content.contains(bytes), qPrintable(file.fileName() + ": " + secret));
        }
        QVERIFY(read >= 2); // the store and the account's file
    }
};

PELICARD_TEST_MAIN(TestAccountPages)
#include "tst_accountpages.moc"
