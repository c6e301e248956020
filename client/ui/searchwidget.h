#pragma once

#include <QWidget>

class QLineEdit;

// The search field above the contact list.
class SearchWidget : public QWidget
{
    Q_OBJECT
public:
    explicit SearchWidget(QWidget *parent = nullptr);

    QLineEdit *lineEdit() const { return m_edit; }

private:
    QLineEdit *m_edit;
};
