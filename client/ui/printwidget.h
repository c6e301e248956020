#pragma once

#include <QWidget>

class MainWindow;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The print page of the main window: the selected contact or all of them.
class PrintWidget : public QWidget
{
    Q_OBJECT
public:
    explicit PrintWidget(MainWindow *parent);

    MainWindow *mainWindow() const { return m_mainWindow; }

    QLineEdit *selectionEdit() const { return m_selection; }
    QRadioButton *selectedRadioButton() const { return m_selected; }
    QRadioButton *allRadioButton() const { return m_all; }
    QPushButton *backButton() const { return m_back; }
    QPushButton *printButton() const { return m_print; }

private:
    MainWindow *m_mainWindow;
    QRadioButton *m_selected;
    QLineEdit *m_selection;
    QRadioButton *m_all;
    QPushButton *m_back;
    QPushButton *m_print;
};
