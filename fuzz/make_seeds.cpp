// Writes the seed inputs of fuzz_messages: one file per kind of message our own encoder
// makes, plus bare payloads. Usage: fuzz_make_seeds <folder>
#include "protocol.h"

#include <QDir>
#include <QFile>
#include <cstdio>

using namespace Protocol;

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds <folder>\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral(".")))
        return 1;

    Contact c;
    c.name = QStringLiteral("王");
    c.firstName = QStringLiteral("小 明");
    c.mobile = QStringLiteral("138 1234 5678");
    c.notes = QStringLiteral("two\nlines");
    c.customCount = 1;
    c.customLabel[0] = QStringLiteral("QQ");
    c.customValue[0] = QStringLiteral("12345");
    c.normalise();
    const QString pw = QStringLiteral("0v");

    const QList<std::pair<const char *, QByteArray>> seeds = {
        {"hello", encodeMessage(QString(), RequestType::Hello, pingPayload())},
        {"hello-reply", encodeMessage(pw, RequestType::Hello, pongPayload())},
        {"goodbye", encodeMessage(pw, RequestType::Goodbye, pingPayload())},
        {"revision", encodeMessage(pw, RequestType::RevisionQuery, revisionText(41))},
        {"revision-reply", encodeMessage(pw, RequestType::RevisionQuery, revisionText(4294967296))},
        {"add", encodeMessage(pw, RequestType::AddContact, encodeContact(c))},
        {"edit", encodeMessage(pw, RequestType::EditContact, encodeContactWithId(c, 7))},
        {"delete", encodeMessage(pw, RequestType::DeleteContact, encodeDelete(c.name, QString()))},
        {"transfer", encodeMessage(pw, RequestType::DatabaseTransfer, QByteArray())},
        {"wrong-password", encodeMessage(pw, RequestType::WrongPassword, wrongPasswordPayload())},
        {"contact-payload", encodeContactWithId(c, 7)},
        {"delete-payload", encodeDelete(c.name, c.firstName)},
    };
    for (const auto &[name, bytes] : seeds) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            return 1;
    }
    return 0;
}
