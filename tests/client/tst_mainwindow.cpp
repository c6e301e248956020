#include "accountsession.h"
#include "clienttest.h"
#include "contactlistmodel.h"
#include "filenames.h"
#include "networkrunner.h"
#include "newaccountwidget.h"
#include "passwidget.h"
#include "printwidget.h"
#include "settingswidget.h"
#include "testclient.h"
#include "vcard.h"

#include <QMenu>
#include <QProcess>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QStatusBar>

using namespace ClientTest;

namespace {

// A desktop with or without a tray; the balloons are recorded instead of shown.
class TestWindow : public MainWindow
{
public:
    bool tray = true;
    QStringList balloons; // "title|text|msecs"

protected:
    bool systemTrayAvailable() const override { return tray; }
    void showTrayMessage(const QString &title, const QString &text, int msecs) override
    {
        balloons << title + '|' + text + '|' + QString::number(msecs);
    }
};

// The account entries, after the account menu's separator.
QList<QAction *> accountActions(const MainWindow &w)
{
    return find<QMenu>(&w, "accountMenu")->actions().mid(3);
}

// The account entries as name, and "*" when checked.
QStringList accountEntries(const MainWindow &w)
{
    QStringList names;
    for (const QAction *a : accountActions(w))
        names << a->data().toString() + (a->isChecked() ? "*" : "");
    return names;
}

// The actions that follow the state; every other one is always enabled.
const QStringList Varying{
    "newContactAction", "editContactAction",   "deleteContactAction",  "syncAction", "printAction",
    "settingsAction",   "deleteAccountAction", "importDatabaseAction", "importMenu", "exportMenu"};

// The enabled ones among Varying, and "!" and the name of any other action found disabled;
// sorted. A menu's action goes by the menu's name.
QStringList enabledNames(const MainWindow &w)
{
    QStringList names;
    for (const QAction *a : w.findChildren<QAction *>()) {
        const QString name = a->menu() ? a->menu()->objectName() : a->objectName();
        if (a->isEnabled() && Varying.contains(name))
            names << name;
        else if (!a->isEnabled() && !Varying.contains(name))
            names << QLatin1Char('!') + name;
    }
    names.sort();
    return names;
}

qint64 idOf(const MainWindow &w, const QString &text)
{
    const ContactListModel *model = w.session()->model();
    for (int row = 0; row < model->rowCount(); ++row)
        if (model->entryAt(row).text == text)
            return model->entryAt(row).id;
    return -1;
}

// A card file, one card per "name;firstName", each with a note; its path.
QString writeCards(const QTemporaryDir &dir, const QStringList &pairs)
{
    QByteArray bytes;
    for (const QString &pair : pairs)
        bytes += "BEGIN:VCARD\r\nVERSION:3.0\r\nN:" + pair.toUtf8() +
                 ";;;\r\nNOTE:from a phone\r\nEND:VCARD\r\n";
    QFile file(dir.filePath("in.vcf"));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return file.fileName();
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    ScriptedDialogs m_dialogs;

private slots:
    void init() { freshStart(m_dialogs); }

    // --- accounts

    void firstStartShowsTheWizardAndCancelQuits()
    {
        MainWindow w;
        QVERIFY(w.isVisible());
        QCOMPARE(w.windowTitle(), QStringLiteral("澄岚联系人管理器"));
        QPointer<NewAccountWidget> wizard = w.newAccountWidget();
        QVERIFY(wizard);
        QVERIFY(!wizard->parentWidget());
        QCOMPARE(QApplication::activeModalWidget(), wizard.data());
        QVERIFY(m_dialogs.shown.isEmpty());
        QCOMPARE(exitCodeAfter([&] { click(wizard, "cancelButton"); }), 0);
        QCOMPARE(Accounts::count(), 0);
    }

    void firstAccountIsOpenedAndLaterCancelsOnlyClose()
    {
        MainWindow w;
        form(w)->setPasswordVerified(true);
        QSignalSpy asked(form(w), &AddressWidget::passwordRequested);
        QPointer<NewAccountWidget> wizard = w.newAccountWidget();
        find<QCheckBox>(wizard, "usePasswordCheckBox")->setChecked(true);
        find<QLineEdit>(wizard, "passwordEdit")->setText(QStringLiteral("pw"));
        fillFirstPage(wizard, QStringLiteral("工作"), false);
        click(wizard, "finishButton");
        QVERIFY(deleted(wizard));
        QCOMPARE(w.currentDatabase(), QStringLiteral("工作"));
        QVERIFY(w.session()->isOpen());
        QCOMPARE(accountEntries(w), QStringList{"工作*"});
        // The new account is protected: its list waits for its password.
        QCOMPARE(asked.count(), 1);
        QVERIFY(!find(&w, "newContactAction")->isEnabled()); // locked until then

        find(&w, "newAccountAction")->trigger();
        QPointer<NewAccountWidget> second = w.newAccountWidget();
        QVERIFY(second);
        QCOMPARE(exitCodeAfter([&] { click(second, "cancelButton"); }), NotQuit);
        QVERIFY(deleted(second));
        QCOMPARE(Accounts::count(), 1);
    }

    void switchingAccountsReloadsEverything()
    {
        addAccount(QStringLiteral("乙"), {"张 三"}, true);
        addAccount(QStringLiteral("甲"), {"王 五", "李 四"}, false, QStringLiteral("pw"));
        addAccount(QStringLiteral("c&d"));
        const quint64 revision = (quint64(1) << 63) + 5;
        QVERIFY(Accounts::setLocalRevision(QStringLiteral("乙"), revision));
        QVERIFY(Accounts::setCurrent(QStringLiteral("甲")));
        MainWindow w;
        QCOMPARE(accountEntries(w), (QStringList{"乙", "甲*", "c&d"}));
        // An ampersand is shown, not taken as a mnemonic.
        QCOMPARE(accountActions(w)[2]->text(), QStringLiteral("c&&d"));
        QSignalSpy asked(form(w), &AddressWidget::passwordRequested);
        QVERIFY(listTexts(list(w)).isEmpty());
        form(w)->setPasswordVerified(true);
        QVERIFY(form(w)->loadList());
        QCOMPARE(listTexts(list(w)), (QStringList{"李 四", "王 五"}));
        find(&w, "settingsAction")->trigger();

        accountActions(w)[0]->trigger();
        QCOMPARE(listTexts(list(w)), QStringList{"张 三"});
        QCOMPARE(w.currentDatabase(), QStringLiteral("乙"));
        QCOMPARE(rawStore().value("database/currentDatabase").toString(), QStringLiteral("乙"));
        QCOMPARE(accountEntries(w), (QStringList{"乙*", "甲", "c&d"}));
        QVERIFY(!form(w)->passwordVerified());
        QCOMPARE(w.currentPage(), int(MainWindow::ContactPage));
        QVERIFY(!find(&w, "newContactAction")->isEnabled()); // the greeting runs
        QTRY_VERIFY(find(&w, "newContactAction")->isEnabled());
        QCOMPARE(w.serverPassword(), Accounts::serverPasswordText(QStringLiteral("乙")));
        QVERIFY(!w.serverPassword().isEmpty());
        QCOMPARE(w.localRevision(), revision);
        QVERIFY(find(&w, "syncAction")->isEnabled());

        // Back to the protected account: its password is asked for again.
        accountActions(w)[1]->trigger();
        QCOMPARE(asked.count(), 1);
        QVERIFY(listTexts(list(w)).isEmpty());
        QVERIFY(!find(&w, "syncAction")->isEnabled());
    }

    // --- the texts of every action and menu entry, as the user reads them

    void actionTexts()
    {
        addAccount(QStringLiteral("a"));
        MainWindow w;
        // name, text, status tip; a menu goes by its name and has no tip.
        const QList<QStringList> rows{
            {"newContactAction", "新建联系人", "增加一名新联系人"},
            {"editContactAction", "编辑联系人", "编辑选中的联系人信息"},
            {"deleteContactAction", "删除联系人", "删除选中的联系人信息"},
            {"syncAction", "同步联系人", "与中央服务器同步您的联系人信息，快捷键CTL + C"},
            {"settingsAction", "设置...", "设置..."},
            {"printAction", "打印...", "打印选中的联系人或者所有的联系人信息"},
            {"quitAction", "退出", "退出程序 快捷键 CTRL + Q"},
            {"newAccountAction", "新建帐户", "创建一个新的帐户"},
            {"deleteAccountAction", "删除帐户", "删除当前的帐户"},
            {"exportSelectedPdfAction", "选中的联系人", "将选中的联系人导出到PDF文件"},
            {"exportAllPdfAction", "全部联系人", "将全部联系人导出到PDF文件"},
            {"exportDatabaseAction", "数据库", "导出数据库，包含所有的联系人"},
            {"exportSelectedvCardAction", "选中的联系人",
             "将选中的联系人导出为电子商务卡片 (vCard)"},
            {"exportAllvCardAction", "全部联系人", "将全部联系人导出为电子商务卡片 (vCard)"},
            {"importvCardAction", "电子商务卡片 (vCard)", "导入电子商务卡片 (vCard)"},
            {"importDatabaseAction", "数据库", "导入一个数据库，包含所有联系人"},
            {"aboutAction", "关于", ""},
            {"documentationAction", "在线文档", "在浏览器中浏览文档"},
            {"updateAction", "检测更新", "检测软件更新..."},
            {"reportBugAction", "报告程序缺陷",
             "通过报告程序缺陷和漏洞来帮助我们改善澄岚联系人管理器"},
            {"askAction", "提问", "询问关于澄岚联系人管理器的问题"},
            {"featureRequestAction", "特色需求", "您的想法将有助于我们改善软件"},
            {"showAction", "显示澄岚联系人管理器", ""},
            {"hideAction", "隐藏澄岚联系人管理器", ""},
            {"fileMenu", "文件", ""},
            {"editMenu", "编辑", ""},
            {"accountMenu", "帐户", ""},
            {"helpMenu", "帮助", ""},
            {"importMenu", "导入", ""},
            {"exportMenu", "导出", ""},
            {"pdfMenu", "PDF", ""},
            {"vCardMenu", "电子商务卡 (vCard)", ""}};
        for (const QStringList &row : rows) {
            const QAction *a = row[0].endsWith(QLatin1String("Menu"))
                                   ? find<QMenu>(&w, row[0])->menuAction()
                                   : find(&w, row[0]);
            QCOMPARE(a->text() + '|' + a->statusTip(), row[1] + '|' + row[2]);
        }
    }

    // --- which actions are enabled when

    // Each row starts with no account or with a local or network one holding two contacts,
    // takes the steps (an action without its "Action", a button, or "select" the second
    // contact), and expects that page and exactly these actions enabled.
    void enabledActions_data()
    {
        QTest::addColumn<QString>("account");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("page");
        QTest::addColumn<QStringList>("enabled");
        // A page shown or a contact being edited takes the contact actions away.
        const QStringList busy{"deleteAccountAction", "exportMenu",  "importDatabaseAction",
                               "importMenu",          "printAction", "settingsAction"};
        const QStringList idle = busy + QStringList{"newContactAction"};
        const QStringList selected = idle + QStringList{"editContactAction", "deleteContactAction"};
        auto row = [](const char *name, const char *account, const QStringList &steps, int page,
                      const QStringList &enabled) {
            QTest::newRow(name) << QString(account) << steps << page << enabled;
        };
        row("no account", "", {}, 0, {"importDatabaseAction"}); // its menu is off
        row("local account", "local", {}, 0, idle);
        row("network account", "network", {}, 0,
            {"deleteAccountAction", "exportMenu", "importMenu", "newContactAction", "printAction",
             "settingsAction", "syncAction"});
        row("contact selected", "local", {"select"}, 0, selected);
        row("settings page", "local", {"select", "settings"}, 1, busy);
        row("print from settings", "local", {"select", "settings", "print"}, 2, busy);
        row("settings back", "local", {"select", "settings", "settingsBackButton"}, 0, selected);
        row("print toggled off", "local", {"select", "print", "print"}, 0, selected);
        row("print back", "local", {"select", "print", "printBackButton"}, 0, selected);
        row("editing", "local", {"select", "editContact"}, 0, busy);
        row("new contact", "local", {"newContact"}, 0, busy);
        row("search drops the selection", "local", {"select", "search"}, 0, idle);
        row("search while editing", "local", {"select", "editContact", "search"}, 0, busy);
        // A protected account offers nothing until it is unlocked.
        row("locked", "protected", {}, 0, {"importDatabaseAction"});
        row("unlocked", "protected", {"passVerifyButton"}, 0, idle);
        row("prompt cancelled", "protected", {"passCancelButton"}, 0, {"importDatabaseAction"});
    }

    void enabledActions()
    {
        QFETCH(QString, account);
        QFETCH(QStringList, steps);
        QFETCH(int, page);
        QFETCH(QStringList, enabled);
        if (!account.isEmpty())
            addAccount(QStringLiteral("a"), {"A 1", "B 2"}, account == QLatin1String("network"),
                       account == QLatin1String("protected") ? "pw" : "");
        MainWindow w;
        // A network account's greeting holds the actions until it ends.
        QTRY_VERIFY(!w.network()->isBusy());
        for (const QString &step : steps) {
            if (step == QLatin1String("select")) {
                // Selecting alone does not judge the actions again; the form's signal does.
                selectRow(list(w), 1);
                emit form(w)->updateActionsSignal();
            } else if (step.startsWith(QLatin1String("pass"))) { // the prompt's buttons
                form(w)->passWidget()->passwordEdit()->setText("pw");
                click(form(w)->passWidget(), step);
            } else if (step == QLatin1String("search")) {
                searchField(w)->setText(QStringLiteral("B"));
            } else if (step.endsWith(QLatin1String("Button"))) {
                click(&w, step);
            } else {
                find(&w, step + QLatin1String("Action"))->trigger();
            }
        }
        const QList<QWidget *> pages{w.mainWidget(), w.settingsWidget(), w.printWidget()};
        QCOMPARE(find<QStackedWidget>(&w, "pageStack")->currentWidget(), pages[page]);
        enabled.sort();
        QCOMPARE(enabledNames(w), enabled);
    }

    // --- vCards, printing and PDF

    // Each row exports through an action to the chosen name and expects the contacts in the
    // file, in order; none when it cannot be written.
    void exports_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QStringList>("names");
        const QStringList both{"李 四", "王 五"};
        const QStringList second{"王 五"};
        QTest::newRow("cards, all") << "exportAllvCardAction"
                                    << "out" << both;
        QTest::newRow("cards, selected") << "exportSelectedvCardAction"
                                         << "out.vcf.bak" << second;
        QTest::newRow("cards, unwritable") << "exportAllvCardAction"
                                           << "missing/out" << QStringList();
        QTest::newRow("PDF, all") << "exportAllPdfAction"
                                  << "out" << both;
        QTest::newRow("PDF, selected") << "exportSelectedPdfAction"
                                       << "out" << second;
        QTest::newRow("PDF, unwritable") << "exportAllPdfAction"
                                         << "missing/out" << QStringList();
    }

    void exports()
    {
        QFETCH(QString, action);
        QFETCH(QString, chosen);
        QFETCH(QStringList, names);
        const bool pdf = action.contains("Pdf");
        if (pdf && QStandardPaths::findExecutable("pdftotext").isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        addAccount(QStringLiteral("a"), {"王 五", "李 四"});
        MainWindow w;
        selectRow(list(w), 1);
        QTemporaryDir dir;
        m_dialogs.fileNames = QStringList{dir.filePath(chosen)};
        find(&w, action)->trigger();
        // Nothing else is left behind, and success is told only after a complete write.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), names.isEmpty() ? 0 : 1);
        QStringList shown{pdf ? "save|保存 PDF 文件|PDF 文件 (*.pdf)"
                              : "save|保存 vCard|vCard 文件 (*.vcf)"};
        if (names.isEmpty())
            shown << "critical|保存过程出错|错误信息:\n无法在指定文件中写入数据";
        QCOMPARE(boxes(m_dialogs), shown);
        QCOMPARE(w.statusBar()->currentMessage(), names.isEmpty() ? "就绪"
                                                  : pdf           ? "PDF 导出成功"
                                                                  : "vCard 导出成功");
        const QString path = FileNames::withSuffix(dir.filePath(chosen), pdf ? ".pdf" : ".vcf");
        if (names.isEmpty()) {
            return;
        } else if (pdf) {
            QProcess text;
            text.start("pdftotext", {path, "-"});
            QVERIFY(text.waitForFinished());
            // Text extraction drops the space between two Chinese glyphs.
            const QString printed = QString::fromUtf8(text.readAllStandardOutput());
            for (const QString &name : QStringList{"李 四", "王 五"})
                QCOMPARE(printed.contains(QString(name).remove(' ')), names.contains(name));
            return;
        }
        QByteArray expected;
        for (const QString &text : names)
            expected += VCard::card(*w.session()->contact(idOf(w, text))) + '\n';
        if (!action.contains("All")) // only the export of all ends with a line break
            expected.chop(1);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), expected);
    }

    void importvCard()
    {
        addAccount(QStringLiteral("a"), {"张 三"});
        MainWindow w;
        QTemporaryDir dir;
        m_dialogs.fileNames = QStringList{writeCards(dir, {"王;五", "张;三", ";", "王;五"})};
        find(&w, "importvCardAction")->trigger();
        const QStringList listed{"张 三", "王 五"};
        QCOMPARE(boxes(m_dialogs),
                 (QStringList{"open|导入 vCard 文件|vCard 文件 (*.vcf)",
                              "warning|导入警告|3 张名片未能导入:\n张 三: "
                              "数据库已存有该联系人信息\n(无名): 联系人 名 不可为空\n"
                              "王 五: 数据库已存有该联系人信息"}));
        QCOMPARE(listTexts(list(w)), listed);
        QCOMPARE(TestClient::viewFile(w.session()->databasePath()).names, listed);
    }

    void importCanceledKeepsWhatWasStored()
    {
        addAccount(QStringLiteral("a"), {"张 三"});
        MainWindow w;
        QTemporaryDir dir;
        m_dialogs.fileNames = QStringList{writeCards(dir, {"A;1", "B;2", "C;3"})};
        // The first chance the window gets to take events, the user cancels.
        QTimer::singleShot(0, &w, [&] { find<QProgressDialog>(&w, "workProgress")->cancel(); });
        find(&w, "importvCardAction")->trigger();
        QCOMPARE(listTexts(list(w)), (QStringList{"A 1", "张 三"}));
        QCOMPARE(TestClient::viewFile(w.session()->databasePath()).names,
                 (QStringList{"张 三", "A 1"}));
        searchField(w)->setText(QStringLiteral("B"));
        QVERIFY(listTexts(list(w)).isEmpty());
        QCOMPARE(w.statusBar()->currentMessage(),
                 QStringLiteral("vCard 导入已取消, 已导入 1 张名片"));
    }

    void printWithoutSelectionWarns()
    {
        addAccount(QStringLiteral("a"), {"张 三"});
        MainWindow w;
        find(&w, "printAction")->trigger();
        click(&w, "printButton");
        QCOMPARE(boxes(m_dialogs), QStringList{"warning|打印警告|打印中断:\n没有选择联系人!"});
        QCOMPARE(w.currentPage(), int(MainWindow::PrintPage));
        // All of them: the print dialog comes, and cancelling it prints nothing.
        find<QRadioButton>(&w, "printAllRadioButton")->setChecked(true);
        click(&w, "printButton");
        QCOMPARE(m_dialogs.last().kind, QStringLiteral("print"));
        QCOMPARE(w.currentPage(), int(MainWindow::ContactPage));
    }

    // --- closing and quitting

    void closing_data()
    {
        QTest::addColumn<bool>("tray");
        QTest::newRow("hides in the tray") << true;
        QTest::newRow("quits without a tray") << false;
    }

    void closing()
    {
        QFETCH(bool, tray);
        addAccount(QStringLiteral("a"));
        addAccount(QStringLiteral("b"));
        {
            TestWindow w;
            w.tray = tray;
            w.setGeometry(50, 60, 700, 520);
            QVERIFY(Accounts::setCurrent(QStringLiteral("stale")));
            bool closed = false;
            QCOMPARE(exitCodeAfter([&] { closed = w.close(); }), tray ? NotQuit : 0);
            QCOMPARE(closed, !tray);
            if (tray) {
                // Only a double click on the icon brings the window back.
                emit w.trayIcon()->activated(QSystemTrayIcon::Trigger);
                QVERIFY(!w.isVisible());
                emit w.trayIcon()->activated(QSystemTrayIcon::DoubleClick);
                QVERIFY(w.isVisible());
                // The tray menu's quit ends the program.
                QCOMPARE(exitCodeAfter(
                             [&] { w.trayIcon()->contextMenu()->actions().last()->trigger(); }),
                         0);
            }
            QCOMPARE(w.balloons,
                     tray ? QStringList{"澄岚联系人管理器|正在运行...|10000"} : QStringList());
            QCOMPARE(rawStore().value("database/currentDatabase").toString(), QStringLiteral("b"));
            QCOMPARE(rawStore().value("mainWindow/geometry").toByteArray(), w.saveGeometry());
        }
        MainWindow again;
        QCOMPARE(again.size(), QSize(700, 520));
    }
};

PELICARD_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
