#pragma once

#include "dialogs.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <functional>

// Records every box and dialog the program shows and answers from a script. Installs
// itself while it lives.
class ScriptedDialogs : public QObject, public Dialogs
{
    Q_OBJECT
public:
    struct Shown
    {
        QString kind; // information, warning, critical, question, notify, open, save, print
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
    };

    ScriptedDialogs() { Dialogs::install(this); }
    ~ScriptedDialogs() override { Dialogs::install(nullptr); }

    // Answers, taken in order; when a list runs dry the defaults below apply.
    QList<QMessageBox::StandardButton> answers;
    QStringList fileNames;
    QList<bool> printAnswers;
    QMessageBox::StandardButton defaultAnswer = QMessageBox::No;

    QList<Shown> shown;
    Shown last() const { return shown.isEmpty() ? Shown() : shown.last(); }
    // Called with each box as it is shown, before it is answered.
    std::function<void(const Shown &)> onShown;

    void information(QWidget *parent, const QString &title, const QString &text) override;
    void warning(QWidget *parent, const QString &title, const QString &text) override;
    void critical(QWidget *parent, const QString &title, const QString &text) override;
    QMessageBox::StandardButton question(QWidget *parent, const QString &title, const QString &text,
                                         QMessageBox::Icon icon) override;
    void notify(QMessageBox::Icon icon, QWidget *parent, const QString &title,
                const QString &text) override;
    QString openFileName(QWidget *parent, const QString &caption, const QString &dir,
                         const QString &filter) override;
    QString saveFileName(QWidget *parent, const QString &caption, const QString &dir,
                         const QString &filter) override;
    bool print(QWidget *parent, QPrinter *printer) override;

private:
    void record(const QString &kind, const QString &title, const QString &text,
                QMessageBox::Icon icon);
};
