// vCard export and import at 10,000 generated contacts, in cards per second: writing to memory
// and to a file, reading the export (GB18030) and the same cards as UTF-8, and, as a hint of
// what an import into a local account costs, reading plus storing every card in one
// transaction, and the whole import into a local account through the open account session.
// Beside it Python's vobject parses and writes the same file, when installed.
#include "accounts.h"
#include "accountsession.h"
#include "contactgenerator.h"
#include "contactstore.h"
#include "eightbitcodec.h"
#include "measure.h"
#include "sqliteconnection.h"
#include "vcard.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int Cards = 10000;
constexpr int Runs = 5;

void row(const char *what, double ms)
{
    std::printf("%-48s %10.0f cards/s  %8.1f ms\n", what, Cards / (ms / 1000), ms);
}

QList<Contact> readAll(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    VCardReader reader(&buffer);
    QList<Contact> cards;
    cards.reserve(Cards);
    Contact c;
    while (reader.next(&c) == VCardReader::Card)
        cards << c;
    return cards;
}

// Parses the file with vobject, then writes what it parsed: "cards parsed/s written/s".
const char *const VobjectScript = R"(
import sys, time, vobject
text = open(sys.argv[1], 'rb').read().decode(sys.argv[2])
start = time.perf_counter()
cards = list(vobject.readComponents(text))
parsed = time.perf_counter() - start
start = time.perf_counter()
out = ''.join(card.serialize() for card in cards)
written = time.perf_counter() - start
print(len(cards), len(cards) / parsed, len(cards) / written)
)";

void vobject(const QString &path, const char *codec, const char *what)
{
    // Debian's python3-vobject belongs to the system's interpreter.
    for (const QString &python : {QStringLiteral("/usr/bin/python3"), QStringLiteral("python3")}) {
        QProcess process;
        process.start(python, {QStringLiteral("-c"), QString::fromLatin1(VobjectScript), path,
                               QString::fromLatin1(codec)});
        if (!process.waitForFinished(600000) || process.exitCode() != 0)
            continue;
        const QList<QByteArray> figures = process.readAllStandardOutput().simplified().split(' ');
        if (figures.size() != 3)
            continue;
        std::printf("%-48s %10.0f cards/s  (%s cards)\n",
                    qPrintable(QStringLiteral("vobject: parse %1").arg(QLatin1String(what))),
                    figures[1].toDouble(), figures[0].constData());
        std::printf("%-48s %10.0f cards/s\n", "vobject: write what it parsed",
                    figures[2].toDouble());
        return;
    }
    std::printf("vobject: skipped (python3-vobject is not installed)\n");
}

} // namespace

int main(int argc, char *argv[])
{
    // The accounts of the session import live in a home of their own.
    QTemporaryDir home;
    Measure::useHome(home.path());
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QList<Contact> contacts;
    for (int i = 0; i < Cards; ++i)
        contacts << ContactGenerator::make(quint32(i));

    QByteArray exported;
    row("export to memory", Measure::medianMs(Runs, [&] {
            QBuffer buffer;
            buffer.open(QIODevice::WriteOnly);
            VCardWriter writer(&buffer);
            for (const Contact &c : contacts)
                writer.write(c);
            if (!writer.finish())
                std::abort();
            exported = buffer.data();
        }));
    const QString path = dir.filePath(QStringLiteral("contacts.vcf"));
    row("export to a file (temporary file, renamed)", Measure::medianMs(Runs, [&] {
            VCardFileWriter out(path, VCardWriter::LineBreakAfterLast);
            bool ok = out.open();
            for (const Contact &c : contacts)
                ok = ok && out.write(c);
            if (!ok || !out.commit())
                std::abort();
        }));
    std::printf("%-48s %10.1f MiB\n", "file size", double(exported.size()) / (1 << 20));

    const QByteArray utf8 = EightBitCodec::decode(exported).toUtf8();
    const QString utf8Path = dir.filePath(QStringLiteral("contacts-utf8.vcf"));
    QFile utf8File(utf8Path);
    if (!utf8File.open(QIODevice::WriteOnly) || utf8File.write(utf8) != utf8.size())
        return 1;
    utf8File.close();
    int read = 0;
    row("import: read the export (GB18030)",
        Measure::medianMs(Runs, [&] { read = int(readAll(exported).size()); }));
    row("import: read the same cards as UTF-8",
        Measure::medianMs(Runs, [&] { read = int(readAll(utf8).size()); }));
    if (read != Cards)
        return 1;

    int run = 0;
    row("import: read and store, one transaction", Measure::medianMs(Runs, [&] {
            const QString db = dir.filePath(QStringLiteral("store-%1.sqlite").arg(++run));
            SqliteConnection connection(db, QStringLiteral("bench"));
            if (!ContactStore::createDatabase(db) || !connection.open() ||
                !connection.db().transaction())
                std::abort();
            ContactStore store(connection.db());
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            VCardReader reader(&file);
            Contact c;
            while (reader.next(&c) == VCardReader::Card)
                store.insert(c);
            if (!connection.db().commit())
                std::abort();
        }));

    // As the window imports: cards read and handed to the session, which stores them in one
    // transaction and updates its index and list once. Each run into a new account, empty or
    // holding 90,000 other contacts: the cost should hardly depend on what is there.
    const QString laterPath = dir.filePath(QStringLiteral("later.vcf"));
    {
        VCardFileWriter out(laterPath, VCardWriter::LineBreakAfterLast);
        bool ok = out.open();
        for (int i = 0; i < Cards; ++i)
            ok = ok && out.write(ContactGenerator::make(quint32(90000 + i)));
        if (!ok || !out.commit())
            return 1;
    }
    AccountSession session;
    for (const int held : {0, 90000}) {
        int added = 0;
        const double ms = Measure::medianMs(
            Runs,
            [&] {
                QFile file(held ? laterPath : path);
                file.open(QIODevice::ReadOnly);
                VCardReader reader(&file);
                if (!session.addMany(
                        [&](Contact *c) { return reader.next(c) == VCardReader::Card; }, nullptr,
                        &added))
                    std::abort();
            },
            [&] {
                const QString name = QStringLiteral("import%1").arg(++run);
                QDir().mkpath(Accounts::databaseDirectory());
                if (!Accounts::create({name, false, false, {}, {}, Accounts::DefaultPort, {}}) ||
                    !ContactGenerator::writeDatabase(Accounts::databasePath(name), held) ||
                    !session.open(name) || !session.reload())
                    std::abort();
            });
        row(qPrintable(QStringLiteral("import into a local account of %1 (session)").arg(held)),
            ms);
        if (added != Cards)
            return 1;
    }

    vobject(path, "gb18030", "the export");
    return 0;
}
