// Filling and searching the contact list at 1,000, 10,000 and 100,000 generated contacts: the
// bare statements beside the in-memory index and the list model shown in a real view, plus
// the resident memory a loaded account costs. Prints medians as a table.
#include "contactgenerator.h"
#include "contactindex.h"
#include "contactlistmodel.h"
#include "contactstore.h"
#include "measure.h"
#include "sqliteconnection.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QListView>
#include <QTemporaryDir>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

using Measure::medianMs;
using Measure::residentKiB;

// Counts the paints of the list, so a measurement can wait until the user sees the change.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return QObject::eventFilter(watched, event);
    }
};

struct Shown
{
    ContactListModel model;
    QListView view;
    PaintCounter counter;

    Shown()
    {
        view.setUniformItemSizes(true);
        view.setModel(&model);
        view.viewport()->installEventFilter(&counter);
        view.resize(320, 640);
        view.show();
        waitForPaint(0);
    }

    void waitForPaint(int before)
    {
        QElapsedTimer limit;
        limit.start();
        while (counter.paints == before && limit.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }

    void show(QList<ContactEntry> entries)
    {
        const int before = counter.paints;
        model.setEntries(std::move(entries));
        waitForPaint(before);
    }
};

// prepare runs before each measured run, untimed.
void row(const char *what, const QString &detail, const std::vector<double> &ms)
{
    std::printf("%-34s %-12s", what, qPrintable(detail));
    for (const double m : ms)
        std::printf(" %10.2f", m);
    std::printf("\n");
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const std::vector<int> sizes = {1000, 10000, 100000};
    std::vector<QString> paths;
    for (const int n : sizes) {
        QElapsedTimer timer;
        timer.start();
        paths.push_back(dir.filePath(QStringLiteral("contacts-%1.db").arg(n)));
        QString error;
        if (!ContactGenerator::writeDatabase(paths.back(), n, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        std::printf("generated %d contacts in %.1f s\n", n, double(timer.elapsed()) / 1000);
    }

    // Memory first, before the timing runs leave freed memory behind.
    {
        Shown shown;
        malloc_trim(0);
        const qint64 before = residentKiB();
        SqliteConnection connection(paths.back(), QStringLiteral("bench"));
        ContactIndex index;
        if (!connection.open() || !index.load(connection.db()))
            return 1;
        shown.show(index.entries());
        const qint64 after = residentKiB();
        const qint64 file = QFileInfo(paths.back()).size() / 1024;
        std::printf("\nresident memory, 100,000 contacts shown: before %lld KiB, after %lld KiB, "
                    "growth %lld KiB = %.2f x the file (%lld KiB)\n",
                    before, after, after - before, double(after - before) / double(file), file);
    }

    std::printf("\nmedian milliseconds%35s", "");
    for (const int n : sizes)
        std::printf(" %10d", n);
    std::printf("\n");

    struct Sized
    {
        std::unique_ptr<SqliteConnection> connection;
        ContactIndex index;
    };
    std::vector<Sized> dbs(sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        dbs[i].connection = std::make_unique<SqliteConnection>(paths[i], QStringLiteral("bench"));
        if (!dbs[i].connection->open())
            return 1;
    }
    const auto runsFor = [&](size_t i, int few) { return sizes[i] >= 100000 ? few : 9; };

    std::vector<double> ms;
    for (size_t i = 0; i < sizes.size(); ++i) {
        const ContactStore store(dbs[i].connection->db());
        ms.push_back(medianMs(runsFor(i, 5), [&] { store.names(); }));
    }
    row("SQL list (name, firstName)", QString(), ms);

    for (const QString &text : {QStringLiteral("a"), QStringLiteral("xqz")}) {
        ms.clear();
        for (size_t i = 0; i < sizes.size(); ++i) {
            const ContactStore store(dbs[i].connection->db());
            ms.push_back(medianMs(runsFor(i, 3), [&] { store.search(text); }));
        }
        row("SQL search, 23 columns LIKE", QLatin1Char('"') + text + QLatin1Char('"'), ms);
    }

    for (const bool accessible : {false, true}) {
        QAccessible::setActive(accessible);
        Shown shown;
        ms.clear();
        for (size_t i = 0; i < sizes.size(); ++i) {
            // From an empty list, as after opening an account; freeing the previous one is
            // not part of filling.
            ms.push_back(medianMs(
                runsFor(i, 7),
                [&] {
                    dbs[i].index.load(dbs[i].connection->db());
                    shown.show(dbs[i].index.entries());
                },
                [&] {
                    shown.show({});
                    dbs[i].index.clear();
                }));
        }
        row(accessible ? "load + fill shown list, a11y on" : "load + fill shown list", QString(),
            ms);
    }
    QAccessible::setActive(false);

    {
        Shown shown;
        ms.clear();
        for (size_t i = 0; i < sizes.size(); ++i)
            ms.push_back(medianMs(
                9, [&] { dbs[i].index.load(dbs[i].connection->db()); },
                [&] { dbs[i].index.clear(); }));
        row("  of which load alone", QString(), ms);

        const QStringList texts = {QStringLiteral("a"),     QStringLiteral("li"),
                                   QStringLiteral("wan"),   QStringLiteral("xqz"),
                                   QStringLiteral("l_n%g"), QStringLiteral("_"),
                                   QStringLiteral("13%8")};
        for (const QString &text : texts) {
            ms.clear();
            QStringList counts;
            for (size_t i = 0; i < sizes.size(); ++i) {
                counts << QString::number(dbs[i].index.search(text).size());
                // From the full list each time, as after a keystroke on an empty field.
                ms.push_back(medianMs(9, [&] { shown.show(dbs[i].index.search(text)); }));
                shown.show(dbs[i].index.entries());
            }
            row("search + fill shown list", QLatin1Char('"') + text + QLatin1Char('"'), ms);
            std::printf("%-47s", "  rows found");
            for (const QString &c : counts)
                std::printf(" %10s", qPrintable(c));
            std::printf("\n");
        }
        ms.clear();
        for (size_t i = 0; i < sizes.size(); ++i)
            ms.push_back(medianMs(9, [&] { dbs[i].index.search(QStringLiteral("xqz")); }));
        row("  of which the search \"xqz\"", QString(), ms);
    }
    return 0;
}
