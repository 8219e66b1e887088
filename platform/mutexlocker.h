#pragma once

#include <QMutex>

#if defined(__SANITIZE_THREAD__)
#define TARNIX_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TARNIX_TSAN 1
#endif
#endif

#ifdef TARNIX_TSAN
extern "C" {
void __tsan_mutex_pre_lock(void *addr, unsigned flags);
void __tsan_mutex_post_lock(void *addr, unsigned flags, int recursion);
int __tsan_mutex_pre_unlock(void *addr, unsigned flags);
void __tsan_mutex_post_unlock(void *addr, unsigned flags);
}
#endif

namespace platform {

// Qt 5's QMutex parks a contended locker on a futex inside the (uninstrumented) Qt library, so
// ThreadSanitizer misses the hand-over and reports races on data the mutex does guard. Every lock
// in this project goes through these two functions, which announce the lock to ThreadSanitizer;
// in other builds they are plain QMutex calls.
inline void lockMutex(QMutex *m)
{
#ifdef TARNIX_TSAN
    __tsan_mutex_pre_lock(m, 0);
    m->lock();
    __tsan_mutex_post_lock(m, 0, 0);
#else
    m->lock();
#endif
}

inline void unlockMutex(QMutex *m)
{
#ifdef TARNIX_TSAN
    __tsan_mutex_pre_unlock(m, 0);
    m->unlock();
    __tsan_mutex_post_unlock(m, 0);
#else
    m->unlock();
#endif
}

// QMutexLocker's counterpart for the functions above.
class MutexLocker
{
public:
    explicit MutexLocker(QMutex *m) : m_mutex(m) { lockMutex(m_mutex); }
    ~MutexLocker()
    {
        if (m_locked)
            unlockMutex(m_mutex);
    }
    void unlock()
    {
        if (m_locked) {
            unlockMutex(m_mutex);
            m_locked = false;
        }
    }
    void relock()
    {
        if (!m_locked) {
            lockMutex(m_mutex);
            m_locked = true;
        }
    }
    MutexLocker(const MutexLocker &) = delete;
    MutexLocker &operator=(const MutexLocker &) = delete;

private:
    QMutex *m_mutex;
    bool m_locked = true;
};

} // namespace platform
