#pragma once

#include <QHash>
#include <QHostAddress>
#include <QMutex>
#include <map>

// Which connections the server serves at once. A connection counts against its address's share
// and the total from its acceptance until its reply has been handed to its socket. When a limit
// is reached, room is made by closing the oldest connection that has not yet completed a
// request (idle, or still trickling it in), of the same address when that address is at its
// share: refusing newcomers instead would hand the server to whoever connects first and never
// lets go. A connection whose request is complete is never closed to make room. Thread-safe: the
// listener admits, the serving threads report.
class Admission
{
public:
    Admission(int maxTotal, int maxPerAddress)
        : m_maxTotal(maxTotal), m_maxPerAddress(maxPerAddress)
    {
    }

    void setLimits(int maxTotal, int maxPerAddress);

    // A ticket for the new connection, or 0 when no room could be made. The connections closed
    // to make room are shut down through their descriptors: their threads see them end.
    quint64 admit(const QHostAddress &address, qintptr socketDescriptor);
    // The connection's request is complete: it is no longer closed to make room.
    void answering(quint64 ticket);
    // The connection no longer counts (its reply is with the socket, or it ends).
    void release(quint64 ticket);

    int count() const;

private:
    struct Entry
    {
        QHostAddress address;
        qintptr descriptor;
        bool answering = false;
    };
    // Closes the oldest waiting connection (of address, when given); false when there is none.
    bool evictOldest(const QHostAddress *address);
    void erase(std::map<quint64, Entry>::iterator it);

    mutable QMutex m_mutex;
    std::map<quint64, Entry> m_entries; // by ticket: the oldest first
    QHash<QHostAddress, int> m_perAddress;
    quint64 m_nextTicket = 1;
    int m_maxTotal;
    int m_maxPerAddress;
};
