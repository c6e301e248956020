#pragma once

#include "ui_aboutdialog.h"

#include <QDialog>

// The About dialog: the product and its version, the maker's web site, the licence terms.
class AboutDialog : public QDialog, private Ui::AboutDialog
{
    Q_OBJECT
public:
    explicit AboutDialog(const QString &version, QWidget *parent = nullptr);
};
