#pragma once

#include <QWidget>

class ContactListModel;
class QListView;

// The contact list of the contact page: one row per contact of the account's model, sorted.
class ContactListWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ContactListWidget(ContactListModel *model, QWidget *parent = nullptr);

    QListView *listView() const { return m_view; }
    int count() const;
    // The row the user is on: its contact's id (-1 when none) and its text.
    qint64 currentId() const;
    QString currentText() const;
    bool hasSelection() const;
    // Makes the row of that contact current and selected.
    void selectId(qint64 id);

signals:
    void itemSelectionChanged();

public slots:
    // A contact just stored appears at its sorted place; this brings it into view.
    void addContact(const QString &name);

private:
    ContactListModel *m_model;
    QListView *m_view;
};
