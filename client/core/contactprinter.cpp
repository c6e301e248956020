#include "contactprinter.h"

#include <QAbstractTextDocumentLayout>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QScreen>
#include <QTextDocument>
#include <QTextFrame>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ContactPrinter", text);
}

// The document is laid out at the screen's resolution, as on the screen.
qreal screenDpi()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInchY() : 96.0;
}

void appendBlock(QString &out, const Contact &c)
{
    const auto text = [](const QString &field) { return field.toHtmlEscaped(); };
    out += QLatin1String("<table width=\"100%\" border=1 cellspacing=0 cellpadding=\"5\">\n"
                         "<tr><td><font size=\"18px\"><b>");
    out += text(c.name) + u' ' + text(c.firstName);
    out += QLatin1String("</b></font>\n<tr><td><font size=\"15px\">");

    QStringList phones;
    for (const QString *phone : {&c.work, &c.home, &c.mobile})
        if (!phone->isEmpty())
            phones << text(*phone);
    if (!phones.isEmpty())
        out += phones.join(QLatin1String(" | ")) + QLatin1String("<br>");

    // Address and zip are parted by " | ", zip and town by the space alone.
    if (!c.address.isEmpty())
        out += text(c.address) + u' ';
    if (!c.zip.isEmpty())
        out += (c.address.isEmpty() ? QString() : QStringLiteral(" | ")) + text(c.zip) + u' ';
    if (!c.town.isEmpty())
        out += text(c.town);
    if (!c.address.isEmpty() || !c.zip.isEmpty() || !c.town.isEmpty())
        out += QLatin1String("<br>");

    if (!c.email.isEmpty())
        out += text(c.email) + u' ';
    if (!c.web.isEmpty())
        out += text(c.web);
    if (!c.email.isEmpty() || !c.web.isEmpty())
        out += QLatin1String("<br>");

    if (!c.notes.isEmpty())
        out += text(c.notes) + QLatin1String("<br>");

    if (c.customCount != 0) {
        for (int k = 0; k < Contact::CustomSlots; ++k)
            if (!c.customLabel[k].isEmpty())
                out +=
                    text(c.customLabel[k]) + u' ' + text(c.customValue[k]) + QLatin1String("<br>");
    }
    out += QLatin1String("\n</font></table>\n<br>\n");
}

} // namespace

QString ContactPrinter::html(const QList<Contact> &contacts)
{
    QString out;
    for (const Contact &c : contacts)
        appendBlock(out, c);
    return out;
}

std::unique_ptr<QTextDocument> ContactPrinter::document(const QList<Contact> &contacts)
{
    auto doc = std::make_unique<QTextDocument>();
    // Chinese from these fonts: fonts that draw 一 and the radical ⼀ with one glyph make PDF
    // readers copy and find the radical instead of the character.
    QFont font = doc->defaultFont();
    font.setFamilies({font.family(), QStringLiteral("WenQuanYi Micro Hei"),
                      QStringLiteral("WenQuanYi Zen Hei")});
    doc->setDefaultFont(font);
    doc->setHtml(html(contacts));
    return doc;
}

bool ContactPrinter::fail(const QString &error)
{
    m_error = error;
    return false;
}

bool ContactPrinter::print(const QList<Contact> &contacts, QPagedPaintDevice *device,
                           const Progress &progress)
{
    m_error.clear();
    // As the toolkit prints a document of no fixed page size: a device without margins gets
    // 2 mm, the text 2 cm more, and each page its number at the bottom right.
    QMarginsF margins = device->pageLayout().margins(QPageLayout::Millimeter);
    if (margins.isNull())
        device->setPageMargins(QMarginsF(2, 2, 2, 2), QPageLayout::Millimeter);

    const std::unique_ptr<QTextDocument> doc = document(contacts);
    QPainter painter;
    if (!painter.begin(device))
        return fail(tr("无法开始打印"));
    doc->documentLayout()->setPaintDevice(device);
    const qreal dpi = screenDpi();
    const qreal textMargin = int(2 / 2.54 * dpi); // the layout scales it to the device
    QTextFrameFormat frame = doc->rootFrame()->frameFormat();
    frame.setMargin(textMargin);
    doc->rootFrame()->setFrameFormat(frame);
    const QSizeF page(device->width(), device->height());
    doc->setPageSize(page);
    const QPointF numberAt(page.width() - textMargin * device->logicalDpiX() / dpi,
                           page.height() - textMargin * device->logicalDpiY() / dpi +
                               QFontMetrics(doc->defaultFont(), device).ascent() +
                               5 * device->logicalDpiY() / 72.0);

    const int pages = doc->pageCount();
    for (int i = 0; i < pages; ++i) {
        if (i > 0 && !device->newPage())
            return fail(tr("无法开始新的一页"));
        const QRectF view(0, i * page.height(), page.width(), page.height());
        painter.save();
        painter.translate(0, -view.top());
        painter.setClipRect(view);
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = view;
        context.palette.setColor(QPalette::Text, Qt::black); // paper is white, whatever the theme
        doc->documentLayout()->draw(&painter, context);
        painter.setClipping(false);
        painter.setFont(doc->defaultFont());
        const QString number = QString::number(i + 1);
        painter.drawText(
            QPointF(qRound(numberAt.x() - painter.fontMetrics().horizontalAdvance(number)),
                    qRound(numberAt.y() + view.top())),
            number);
        painter.restore();
        if (progress && !progress(i + 1, pages)) {
            painter.end();
            return fail(tr("已取消"));
        }
    }
    if (!painter.end())
        return fail(tr("打印出错"));
    return true;
}

bool ContactPrinter::writePdf(const QList<Contact> &contacts, const QString &path,
                              const Progress &progress)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    {
        QPdfWriter pdf(&file);
        pdf.setResolution(qRound(screenDpi()));
        pdf.setCreator(QCoreApplication::applicationName());
        if (!print(contacts, &pdf, progress)) {
            file.cancelWriting();
            return false;
        }
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}
