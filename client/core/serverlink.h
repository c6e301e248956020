#pragma once

#include "contact.h"

#include <QString>

class AccountSession;

// The client side of the exchanges that change a network account: the revision check and the
// add, edit and delete requests. It shows no boxes; a refusal carries the texts to show.
class ServerLink
{
public:
    struct Result
    {
        bool accepted = false;
        QString title; // empty: nothing to show (the exchange said it already)
        QString text;
    };

    explicit ServerLink(AccountSession &session) : m_session(session) {}

    Result checkRevision();
    Result addContact(const Contact &contact);
    Result editContact(const Contact &contact);
    Result deleteContact(const QString &name, const QString &firstName);

private:
    AccountSession &m_session;
};
