#pragma once

#include <QByteArray>
#include <QList>

// A first-in first-out queue of whole datagrams with a fixed limit: once full, new datagrams are
// dropped, so a peer that floods us (or a consumer that stalls) cannot grow memory without bound.
// Not thread-safe; the owner locks.
class DatagramQueue
{
public:
    explicit DatagramQueue(int limit) : m_limit(limit) {}

    // False, and nothing stored, when the queue is full.
    bool append(const QByteArray &datagram)
    {
        if (m_items.size() >= m_limit)
            return false;
        m_items.append(datagram);
        return true;
    }

    // Takes the oldest datagram; false when there is none.
    bool takeFirst(QByteArray &out)
    {
        if (m_items.isEmpty())
            return false;
        out = m_items.takeFirst();
        return true;
    }

    bool isEmpty() const { return m_items.isEmpty(); }
    int size() const { return m_items.size(); }
    int limit() const { return m_limit; }

private:
    QList<QByteArray> m_items;
    int m_limit;
};
