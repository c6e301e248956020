#pragma once

#include <QWidget>

class QListWidget;

// The contact list of the contact page: display texts only, kept sorted.
class ContactListWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ContactListWidget(QWidget *parent = nullptr);

    QListWidget *listWidget() const { return m_list; }

public slots:
    void addContact(const QString &name);

private:
    QListWidget *m_list;
};
