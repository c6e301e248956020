#include "dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QPrintDialog>

namespace {
Dialogs *g_installed = nullptr;
const char NotifyProperty[] = "pelicardNotify";
} // namespace

Dialogs &Dialogs::instance()
{
    static WidgetDialogs real;
    return g_installed ? *g_installed : real;
}

void Dialogs::install(Dialogs *dialogs) { g_installed = dialogs; }

void WidgetDialogs::information(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox::information(parent, title, text, QMessageBox::Ok);
}

void WidgetDialogs::warning(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox::warning(parent, title, text, QMessageBox::Ok);
}

void WidgetDialogs::critical(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox::critical(parent, title, text, QMessageBox::Ok);
}

QMessageBox::StandardButton WidgetDialogs::question(QWidget *parent, const QString &title,
                                                    const QString &text, QMessageBox::Icon icon)
{
    const auto buttons = QMessageBox::Yes | QMessageBox::No;
    if (icon == QMessageBox::Warning)
        return QMessageBox::warning(parent, title, text, buttons);
    return QMessageBox::question(parent, title, text, buttons);
}

void WidgetDialogs::notify(QMessageBox::Icon icon, QWidget *parent, const QString &title,
                           const QString &text)
{
    // A fault that repeats (every transfer failing, say) would otherwise stack up boxes, and
    // without a display nobody ever closes them.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        auto *open = qobject_cast<QMessageBox *>(window);
        if (open && open->property(NotifyProperty).toBool() && open->icon() == icon
            && open->windowTitle() == title && open->text() == text) {
            open->raise();
            return;
        }
    }
    auto *box = new QMessageBox(icon, title, text, QMessageBox::Ok, parent);
    box->setProperty(NotifyProperty, true);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

QString WidgetDialogs::openFileName(QWidget *parent, const QString &caption, const QString &dir,
                                    const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QString WidgetDialogs::saveFileName(QWidget *parent, const QString &caption, const QString &dir,
                                    const QString &filter)
{
    return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}

bool WidgetDialogs::print(QWidget *parent, QPrinter *printer)
{
    QPrintDialog dialog(printer, parent);
    return dialog.exec() == QDialog::Accepted;
}
