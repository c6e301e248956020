#include "scripteddialogs.h"

void ScriptedDialogs::record(const QString &kind, const QString &title, const QString &text,
                             QMessageBox::Icon icon)
{
    shown.append({kind, title, text, icon});
    if (onShown)
        onShown(shown.last());
}

void ScriptedDialogs::information(QWidget *, const QString &title, const QString &text)
{
    record(QStringLiteral("information"), title, text, QMessageBox::Information);
}

void ScriptedDialogs::warning(QWidget *, const QString &title, const QString &text)
{
    record(QStringLiteral("warning"), title, text, QMessageBox::Warning);
}

void ScriptedDialogs::critical(QWidget *, const QString &title, const QString &text)
{
    record(QStringLiteral("critical"), title, text, QMessageBox::Critical);
}

QMessageBox::StandardButton ScriptedDialogs::question(QWidget *, const QString &title,
                                                      const QString &text, QMessageBox::Icon icon)
{
    record(QStringLiteral("question"), title, text, icon);
    return answers.isEmpty() ? defaultAnswer : answers.takeFirst();
}

void ScriptedDialogs::notify(QMessageBox::Icon icon, QWidget *, const QString &title,
                             const QString &text)
{
    record(QStringLiteral("notify"), title, text, icon);
}

QString ScriptedDialogs::openFileName(QWidget *, const QString &caption, const QString &,
                                      const QString &filter)
{
    record(QStringLiteral("open"), caption, filter, QMessageBox::NoIcon);
    return fileNames.isEmpty() ? QString() : fileNames.takeFirst();
}

QString ScriptedDialogs::saveFileName(QWidget *, const QString &caption, const QString &,
                                      const QString &filter)
{
    record(QStringLiteral("save"), caption, filter, QMessageBox::NoIcon);
    return fileNames.isEmpty() ? QString() : fileNames.takeFirst();
}

bool ScriptedDialogs::print(QWidget *, QPrinter *)
{
    record(QStringLiteral("print"), QString(), QString(), QMessageBox::NoIcon);
    return printAnswers.isEmpty() ? false : printAnswers.takeFirst();
}
