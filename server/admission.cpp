#include "admission.h"

#include "logging.h"

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

void Admission::setLimits(int maxTotal, int maxPerAddress)
{
    QMutexLocker locker(&m_mutex);
    m_maxTotal = maxTotal;
    m_maxPerAddress = maxPerAddress;
}

quint64 Admission::admit(const QHostAddress &address, qintptr socketDescriptor)
{
    QMutexLocker locker(&m_mutex);
    if (m_perAddress.value(address) >= m_maxPerAddress && !evictOldest(&address))
        return 0;
    if (int(m_entries.size()) >= m_maxTotal && !evictOldest(nullptr))
        return 0;
    const quint64 ticket = m_nextTicket++;
    m_entries.emplace(ticket, Entry{address, socketDescriptor});
    ++m_perAddress[address];
    return ticket;
}

bool Admission::evictOldest(const QHostAddress *address)
{
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->second.answering || (address && it->second.address != *address))
            continue;
        qCDebug(lcNet) << "closing a waiting connection from" << it->second.address
                       << "to make room";
#ifdef Q_OS_UNIX
        // The serving thread still owns the descriptor; it sees the connection end and closes
        // it after it has released its ticket, so the descriptor cannot be another's yet.
        ::shutdown(int(it->second.descriptor), SHUT_RDWR);
#endif
        erase(it);
        return true;
    }
    return false;
}

void Admission::answering(quint64 ticket)
{
    QMutexLocker locker(&m_mutex);
    if (const auto it = m_entries.find(ticket); it != m_entries.end())
        it->second.answering = true;
}

void Admission::release(quint64 ticket)
{
    QMutexLocker locker(&m_mutex);
    if (const auto it = m_entries.find(ticket); it != m_entries.end())
        erase(it);
}

void Admission::erase(std::map<quint64, Entry>::iterator it)
{
    const auto count = m_perAddress.find(it->second.address);
    if (count != m_perAddress.end() && --*count <= 0)
        m_perAddress.erase(count);
    m_entries.erase(it);
}

int Admission::count() const
{
    QMutexLocker locker(&m_mutex);
    return int(m_entries.size());
}
