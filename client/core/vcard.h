#pragma once

#include "contact.h"

#include <QByteArray>
#include <QSaveFile>
#include <QString>

class QIODevice;

// Contacts as vCard 3.0 cards, the way other address books exchange them. The window asks
// for the file and shows progress and results; these classes do the rest.
//
// Export; a cancel stops the loop and drops `out`, which leaves nothing behind:
//     VCardFileWriter out(FileNames::withSuffix(chosen, ".vcf"), ending);
//     bool ok = out.open();
//     for (const Contact &c : contacts)
//         ok = ok && out.write(c);      // progress: out.cardCount() of contacts.size()
//     ok = ok && out.commit();          // only now does the chosen name get the new file
//     !ok: "保存过程出错", out.errorString() for the log; the old file is untouched
//
// Import; a cancel stops the loop, the cards stored so far stay:
//     QFile file(chosen);               // open failure: "开启文件失败"
//     VCardReader in(&file);
//     Contact c;
//     while (in.next(&c) == VCardReader::Card)
//         store c;                      // progress: in.position() of in.size() bytes
//     the last result: Finished (all read), Stopped (ends the import without a message, the
//     cards before stay), Failed (in.errorString())
namespace VCard {

// The bytes of one card for a contact, in the program's 8-bit codec, without the line break
// after its "END:VCARD".
QByteArray card(const Contact &contact);

} // namespace VCard

// Writes cards to any open device. Cards are gathered and written in large pieces, so a
// device's failure may show only at a later write() or at finish(); until finish() returned
// true nothing counts as written.
class VCardWriter
{
public:
    // Whether a line break follows the last card: yes when exporting all contacts, no when
    // exporting the selected one. Cards are always separated by one.
    enum Ending { LineBreakAfterLast, NoLineBreakAfterLast };

    explicit VCardWriter(QIODevice *device, Ending ending = LineBreakAfterLast);
    ~VCardWriter();
    VCardWriter(const VCardWriter &) = delete;
    VCardWriter &operator=(const VCardWriter &) = delete;

    bool write(const Contact &contact); // false after finish()
    // Writes what is still gathered, after the last card.
    bool finish();

    int cardCount() const { return m_cards; }
    QString errorString() const { return m_error; }

private:
    bool flush();

    QIODevice *m_device;
    Ending m_ending;
    QString m_pending;
    int m_cards = 0;
    bool m_failed = false;
    bool m_finished = false;
    QString m_error;
};

// Cards written to a temporary file beside the chosen one, which takes the chosen name only
// when commit() succeeds; dropped without commit, or failing, it leaves the chosen name as it
// was and no temporary file behind.
class VCardFileWriter
{
public:
    VCardFileWriter(const QString &path, VCardWriter::Ending ending);

    bool open();
    bool write(const Contact &contact);
    bool commit();

    int cardCount() const { return m_writer.cardCount(); }
    QString errorString() const { return m_error; }

private:
    bool fail(const QString &error);

    QSaveFile m_file;
    VCardWriter m_writer;
    QString m_error;
};

// Reads cards from a device one at a time, so the window can show progress and stop in
// between. The file's text is UTF-8 when it starts with a byte order mark or its lines are
// valid UTF-8, else the 8-bit codec (on a sequential device its first 64 KiB decide). CRLF line
// ends are accepted and folded lines (a line that starts with a space or a tab continues the
// previous one) are joined before the lines are read. Each card starts from an empty contact.
class VCardReader
{
public:
    enum Result {
        Card,     // *contact holds the next card
        Finished, // no more data
        Stopped,  // a card of another version, or the data ends inside a card: the import ends
                  // there, errorString() says which
        Failed,   // the device failed, a line was too long, too many cards: errorString()
    };

    // Bounds on what hostile data can make the reader hold or produce.
    static constexpr qsizetype MaxLineBytes = 1 << 20; // one line with its folded parts
    static constexpr int MaxCards = 1000000;

    explicit VCardReader(QIODevice *device);

    Result next(Contact *contact);

    // Progress in bytes: how far the reader got, and the device's size (-1 when unknown).
    qint64 position() const { return m_position; }
    qint64 size() const { return m_size; }
    bool isUtf8() const { return m_utf8; }
    int cardCount() const { return m_cards; }
    QString errorString() const { return m_error; }

private:
    enum LineResult { Line, NoMore, TooLong, ReadFailed };

    bool start();
    bool scanForUtf8();
    bool fill();
    qsizetype physicalLineEnd();
    LineResult readRawLine(QByteArray *line);
    LineResult readLine(QString *line);
    Result fail(Result result, const QString &error);

    QIODevice *m_device;
    QByteArray m_buffer; // bytes m_at to m_end are read from the device but not yet used
    QByteArray m_line;
    qsizetype m_at = 0;
    qsizetype m_end = 0;
    qsizetype m_scanned = 0; // bytes after m_at known to hold no line break
    bool m_started = false;
    bool m_deviceDone = false;
    bool m_utf8 = false;
    bool m_done = false;
    Result m_doneResult = Finished;
    qint64 m_position = 0;
    qint64 m_size = -1;
    int m_cards = 0;
    QString m_error;
};
