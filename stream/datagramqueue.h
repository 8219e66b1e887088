#pragma once

#include <QByteArray>
#include <QList>

// A first-in first-out queue with a fixed limit: once full, new items are dropped, so a peer that
// floods us (or a consumer that stalls) cannot grow memory without bound. Not thread-safe; the owner
// locks.
template <typename T> class BoundedQueue
{
public:
    explicit BoundedQueue(int limit) : m_limit(limit) {}

    // False, and nothing stored, when the queue is full.
    bool append(const T &item)
    {
        if (m_items.size() >= m_limit)
            return false;
        m_items.append(item);
        return true;
    }

    // Takes the oldest item; false when there is none.
    bool takeFirst(T &out)
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
    QList<T> m_items;
    int m_limit;
};

// Whole datagrams, one per item.
using DatagramQueue = BoundedQueue<QByteArray>;
