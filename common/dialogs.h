#pragma once

#include <QMessageBox>
#include <QString>

class QPrinter;
class QWidget;

// Every message box and file dialog of both programs goes through here, so that tests can
// install a scripted implementation that records the texts and answers from a script.
class Dialogs
{
public:
    virtual ~Dialogs() = default;

    virtual void information(QWidget *parent, const QString &title, const QString &text) = 0;
    virtual void warning(QWidget *parent, const QString &title, const QString &text) = 0;
    virtual void critical(QWidget *parent, const QString &title, const QString &text) = 0;
    // A Yes/No box; icon Question or Warning as the caller's text asks.
    virtual QMessageBox::StandardButton question(QWidget *parent, const QString &title,
                                                 const QString &text,
                                                 QMessageBox::Icon icon = QMessageBox::Question)
        = 0;
    // A box that does not wait for the user: the caller carries on at once.
    virtual void notify(QMessageBox::Icon icon, QWidget *parent, const QString &title,
                        const QString &text)
        = 0;
    virtual QString openFileName(QWidget *parent, const QString &caption, const QString &dir,
                                 const QString &filter)
        = 0;
    virtual QString saveFileName(QWidget *parent, const QString &caption, const QString &dir,
                                 const QString &filter)
        = 0;
    // True when the user accepted the print dialog.
    virtual bool print(QWidget *parent, QPrinter *printer) = 0;

    // The implementation in use; the real one unless a test installed another.
    static Dialogs &instance();
    // Installs an implementation (not owned); nullptr restores the real one.
    static void install(Dialogs *dialogs);
};

// The real boxes and dialogs of the desktop.
class WidgetDialogs : public Dialogs
{
public:
    void information(QWidget *parent, const QString &title, const QString &text) override;
    void warning(QWidget *parent, const QString &title, const QString &text) override;
    void critical(QWidget *parent, const QString &title, const QString &text) override;
    QMessageBox::StandardButton question(QWidget *parent, const QString &title,
                                         const QString &text, QMessageBox::Icon icon) override;
    void notify(QMessageBox::Icon icon, QWidget *parent, const QString &title,
                const QString &text) override;
    QString openFileName(QWidget *parent, const QString &caption, const QString &dir,
                         const QString &filter) override;
    QString saveFileName(QWidget *parent, const QString &caption, const QString &dir,
                         const QString &filter) override;
    bool print(QWidget *parent, QPrinter *printer) override;
};
