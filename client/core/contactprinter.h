#pragma once

#include "contact.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>

class QPagedPaintDevice;
class QTextDocument;

// The printable document of a list of contacts: one framed block per contact with its
// phones, address, mail and web, notes and custom rows. Field texts are escaped, so "<" and
// "&" print as typed. The window chooses the contacts and the destination:
//
//     ContactPrinter out;
//     Printing: QPrinter printer(QPrinter::ScreenResolution), the print dialog, then
//               out.print(contacts, &printer, progress)                    -> "打印完成"
//     PDF:      out.writePdf(contacts, FileNames::withSuffix(chosen, ".pdf"), progress)
//                                                                          -> "PDF 导出成功"
//     false: nothing (or, on a printer, not all) was printed or written; out.errorString()
//
// progress(pagesDone, pageCount) is called after each page; returning false cancels. Needs a
// QGuiApplication (fonts).
class ContactPrinter
{
public:
    using Progress = std::function<bool(int pagesDone, int pageCount)>;

    static QString html(const QList<Contact> &contacts);
    static std::unique_ptr<QTextDocument> document(const QList<Contact> &contacts);

    // Lays the document out on the device's pages and paints them, each numbered at its foot.
    bool print(const QList<Contact> &contacts, QPagedPaintDevice *device,
               const Progress &progress = {});
    // The same as a PDF file, written beside path and renamed over it only when complete.
    bool writePdf(const QList<Contact> &contacts, const QString &path,
                  const Progress &progress = {});

    QString errorString() const { return m_error; }

private:
    bool fail(const QString &error);

    QString m_error;
};
