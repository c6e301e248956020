// The whole client window on generated accounts: how long until the list is shown, how long a
// search keystroke takes until the list is repainted, and what the open account costs in
// resident memory. Run with and without the desktop's accessibility layer, which a screen
// reader user has on.
#include "accounts.h"
#include "contactgenerator.h"
#include "contactlistwidget.h"
#include "mainwidget.h"
#include "mainwindow.h"
#include "measure.h"
#include "searchwidget.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QListView>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr int Rounds = 7;

// What a screen reader's bridge does with every event: asks who sent it and what it holds.
void screenReader(QAccessibleEvent *event)
{
    if (QAccessibleInterface *iface = event->accessibleInterface()) {
        (void)iface->text(QAccessible::Name);
        (void)iface->childCount();
    }
}

void settle(MainWindow &w)
{
    QListView *view = w.mainWidget()->contactListWidget()->listView();
    view->viewport()->repaint();
    QCoreApplication::processEvents();
}

QString account(int count)
{
    return QStringLiteral("bench%1").arg(count);
}

// Measuring another account than the one named would be worse than measuring none.
void written(bool ok)
{
    if (ok)
        return;
    std::fprintf(stderr, "bench_window: %s\n", qPrintable(Accounts::errorString()));
    std::exit(1);
}

bool makeAccount(int count)
{
    written(Accounts::create({account(count), false, false, {}, {}, Accounts::DefaultPort, {}}));
    QString error;
    if (!ContactGenerator::writeDatabase(Accounts::databasePath(account(count)), count, &error)) {
        std::fprintf(stderr, "bench_window: %s\n", qPrintable(error));
        return false;
    }
    return true;
}

void measure(int count, bool accessible)
{
    written(Accounts::setCurrent(account(count)));
    std::unique_ptr<MainWindow> w;
    const double open = Measure::medianMs(
        Rounds,
        [&] {
            w = std::make_unique<MainWindow>();
            settle(*w);
        },
        [&] { w.reset(); });
    std::printf("%7d %-4s %10.1f", count, accessible ? "on" : "off", open);
    QLineEdit *field = w->mainWidget()->searchWidget()->lineEdit();
    for (const char *text : {"a", "zh", "qqqqx", "1_3%"}) {
        const double ms = Measure::medianMs(
            Rounds,
            [&] {
                field->setText(QLatin1String(text));
                settle(*w);
            },
            [&] {
                field->clear();
                settle(*w);
            });
        std::printf(" %9.1f", ms);
    }
    std::printf("\n");
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir home;
    Measure::useHome(home.path());
    QApplication app(argc, argv);
    QDir().mkpath(Accounts::databaseDirectory());
    written(Accounts::setCheckUpdates(false)); // no request leaves the machine

    const std::vector<int> counts{0, 1000, 10000, 100000};
    for (int count : counts)
        if (!makeAccount(count))
            return 1;

    // Memory first, before anything else has grown the heap: the empty account, then the big one.
    qint64 emptyKiB = 0;
    qint64 fullKiB = 0;
    {
        written(Accounts::setCurrent(account(0)));
        MainWindow w;
        settle(w);
        emptyKiB = Measure::residentKiB();
    }
    {
        written(Accounts::setCurrent(account(100000)));
        MainWindow w;
        settle(w);
        fullKiB = Measure::residentKiB();
    }
    const qint64 fileKiB = QFileInfo(Accounts::databasePath(account(100000))).size() / 1024;
    std::printf("resident: empty account %lld KiB, 100000 contacts %lld KiB: +%lld KiB "
                "(file %lld KiB, budget +%lld KiB)\n\n",
                emptyKiB, fullKiB, fullKiB - emptyKiB, fileKiB, 3 * fileKiB);

    std::printf("medians of %d rounds, ms: window opened until the list is painted, then one "
                "search keystroke until repainted\n",
                Rounds);
    std::printf("%7s %-4s %10s %9s %9s %9s %9s\n", "count", "a11y", "open+list", "\"a\"", "\"zh\"",
                "\"qqqqx\"", "\"1_3%\"");
    for (bool accessible : {false, true}) {
        if (accessible) {
            QAccessible::installUpdateHandler(screenReader);
            QAccessible::setActive(true);
        }
        for (int count : {1000, 10000, 100000})
            measure(count, accessible);
    }
    return 0;
}
