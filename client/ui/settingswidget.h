#pragma once

#include <QWidget>

class MainWindow;
class QPushButton;

// The settings page of the main window.
class SettingsWidget : public QWidget
{
    Q_OBJECT
public:
    explicit SettingsWidget(MainWindow *parent);

    MainWindow *mainWindow() const { return m_mainWindow; }

    // Fills the controls from the store, and writes them back.
    void loadSettings();
    void saveSettings();

    QPushButton *backButton() const { return m_back; }

private:
    MainWindow *m_mainWindow;
    QPushButton *m_back;
};
