#pragma once

#include <QString>
#include <functional>

class ContactStore;

// The changes clients send, written to the database file together with the revision that counts
// them. Changes that arrive while another is being written are written together, in one
// transaction on one connection counted by one write of the revision: every change costs the
// disk several flushes, and so clients that write at the same time share them. One change that
// fails is then tried again on its own, so it does not take the others down with it.
namespace ChangeQueue {

using Statement = std::function<bool(ContactStore &)>;

struct Result
{
    bool stored = false;         // the change and the revision that counts it are both stored
    bool settingsFailed = false; // not stored because the settings store cannot be written
    QString error;               // why not, in the database's or the store's words
    quint64 revision = 0;        // the counter after this change
};

// Applies one change to the file at path and raises the revision with it, both or neither (a
// statement that matches no row still counts). Blocks until it is done.
Result apply(const QString &path, Statement statement);

// Changes waiting behind the batch being written.
int waiting();

} // namespace ChangeQueue
