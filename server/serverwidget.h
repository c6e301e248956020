#pragma once

#include <QWidget>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

// The server window's controls: port, password, start-with-program, client count and the
// quit, start and stop buttons. The window reads and drives them directly.
class ServerWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ServerWidget(QWidget *parent = nullptr);

    QLabel *portLabel;
    QSpinBox *portSpinBox;
    QLabel *passwordLabel;
    QLineEdit *passwordEdit;
    QGroupBox *settingsBox;
    QCheckBox *startCheckBox;
    QLabel *clientsLabel;
    QLabel *countLabel;
    QPushButton *quitButton;
    QPushButton *startButton;
    QPushButton *stopButton;
};
