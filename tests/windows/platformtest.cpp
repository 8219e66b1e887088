// Windows thread, priority, wait and timer layer, run under Wine by scripts/test-windows (no test framework
// is built for mingw, so checks print and count). Exits 0 when every check held.
#include "platform/datagramio.h"
#include "platform/priority.h"
#include "platform/socketwait.h"
#include "platform/thread.h"
#include "platform/timerresolution.h"
#include "platform/wakesignal.h"

#include <winsock2.h> // before windows.h, which would bring in the old winsock.h

#include <windows.h>

#include <atomic>
#include <cstdio>

namespace {

constexpr DWORD kDeadlineMs = 10000;
constexpr int kCycles = 200;

int g_failures = 0;

void check(bool ok, const char *what)
{
    std::printf("%s: %s\n", ok ? "ok" : "FAIL", what);
    if (!ok)
        ++g_failures;
}

std::atomic<DWORD> g_threadId{0};
std::atomic<bool> g_release{false};
std::atomic<int> g_ran{0};

void recordIdAndEnd(void *)
{
    g_threadId = GetCurrentThreadId();
    platform::raiseCurrentThreadPriority();
    platform::endThread();
}

void blockUntilReleased(void *)
{
    const DWORD start = GetTickCount();
    while (!g_release && GetTickCount() - start < kDeadlineMs)
        Sleep(1);
}

void count(void *arg)
{
    g_ran += *static_cast<int *>(arg);
}

bool waitFor(const std::atomic<DWORD> &value)
{
    const DWORD start = GetTickCount();
    while (value == 0 && GetTickCount() - start < kDeadlineMs)
        Sleep(1);
    return value != 0;
}

// The GUI thread may end on its own before anyone waits for it; the wait must still see it ended.
void waitAfterTheThreadHasEnded()
{
    g_threadId = 0;
    const platform::ThreadHandle h = platform::beginThread(recordIdAndEnd, nullptr);
    check(h != 0, "a thread starts");
    check(waitFor(g_threadId), "the thread ran");
    // A second, independent handle tells when the thread is really gone.
    HANDLE own = OpenThread(SYNCHRONIZE, FALSE, g_threadId);
    check(own && WaitForSingleObject(own, kDeadlineMs) == WAIT_OBJECT_0, "the thread ended");
    if (own)
        CloseHandle(own);
    check(platform::waitThread(h, 0), "a wait after the end reports it ended");
}

void waitTimesOutThenSucceeds()
{
    g_release = false;
    const platform::ThreadHandle h = platform::beginThread(blockUntilReleased, nullptr);
    const DWORD start = GetTickCount();
    check(!platform::waitThread(h, 50), "a wait on a running thread gives up");
    check(GetTickCount() - start >= 40, "...after its time");
    g_release = true;
    check(platform::waitThread(h, kDeadlineMs), "a later wait sees the end");
}

// Start, run, wait, many times over: every body runs once and each joined handle is closed.
void cyclesLeaveNoHandles()
{
    g_ran = 0;
    int one = 1;
    bool allJoined = true, allClosed = true;
    for (int i = 0; i < kCycles; ++i) {
        const platform::ThreadHandle h = platform::beginThread(count, &one);
        allJoined = platform::waitThread(h, kDeadlineMs) && allJoined;
        DWORD flags = 0;
        allClosed = !GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags) && allClosed;
    }
    check(allJoined, "every cycle's wait succeeds");
    check(g_ran == kCycles, "every body ran once");
    check(allClosed, "a joined thread's handle is closed");
}

// The stream thread's wait: a wake-up from another thread and a datagram each end it at once, and
// a wake-up is never lost.
void socketWaitEndsOnDatagramsAndWakeUps()
{
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof self;
    check(s != INVALID_SOCKET && ::bind(s, reinterpret_cast<sockaddr *>(&self), sizeof self) == 0 &&
              ::getsockname(s, reinterpret_cast<sockaddr *>(&self), &length) == 0,
          "a loopback socket binds");
    platform::SocketWaker waker;
    check(waker.isValid(), "the waker has its events");
    const std::intptr_t fd = std::intptr_t(s);
    using platform::WaitResult;
    check(platform::waitReadable(fd, waker, 1) == WaitResult::TimedOut,
          "nothing to read: the wait times out");
    const platform::ThreadHandle h = platform::beginThread(
        [](void *w) {
            static_cast<platform::SocketWaker *>(w)->wake();
            platform::endThread();
        },
        &waker);
    const DWORD start = GetTickCount();
    check(platform::waitReadable(fd, waker, int(kDeadlineMs)) == WaitResult::Woken,
          "a wake-up ends the wait");
    check(GetTickCount() - start < kDeadlineMs / 2, "...at once");
    check(platform::waitThread(h, kDeadlineMs), "the waking thread ends");
    check(platform::waitReadable(fd, waker, 1) == WaitResult::TimedOut, "the wake-up was used up");
    ::sendto(s, "x", 1, 0, reinterpret_cast<sockaddr *>(&self), length);
    check(platform::waitReadable(fd, waker, int(kDeadlineMs)) == WaitResult::Readable,
          "a datagram ends the wait");
    // The stream thread reads until nothing is left; what a read leaves behind is announced again.
    ::sendto(s, "y", 1, 0, reinterpret_cast<sockaddr *>(&self), length);
    unsigned char byte;
    std::uint32_t from = 0;
    check(platform::receiveDatagram(fd, &byte, 1, &from) == 1 && from == INADDR_LOOPBACK,
          "a datagram is read with its sender");
    check(platform::waitReadable(fd, waker, int(kDeadlineMs)) == WaitResult::Readable,
          "the one left behind ends the next wait");
    check(platform::receiveDatagram(fd, &byte, 1, &from) == 1 && byte == 'y', "...and is read");
    check(platform::receiveDatagram(fd, &byte, 1, &from) == platform::kNoDatagram, "then nothing is left");
    // Batches, as the stream thread reads and acknowledges: all that waits, and no more.
    ::sendto(s, "a", 1, 0, reinterpret_cast<sockaddr *>(&self), length);
    ::sendto(s, "b", 1, 0, reinterpret_cast<sockaddr *>(&self), length);
    unsigned char bytes[4] = {};
    platform::DatagramSlot slots[4];
    for (int k = 0; k < 4; ++k)
        slots[k] = {&bytes[k], 1, 0, 0};
    check(platform::waitReadable(fd, waker, int(kDeadlineMs)) == WaitResult::Readable &&
              platform::receiveDatagrams(fd, slots, 4) == 2 && bytes[0] == 'a' && bytes[1] == 'b' &&
              slots[1].size == 1 && slots[1].senderIPv4 == INADDR_LOOPBACK,
          "a batch read takes every datagram waiting, in order");
    check(platform::receiveDatagrams(fd, slots, 4) == 0, "then finds nothing");
    const unsigned char *both[2] = {bytes, bytes + 1};
    const int sizes[2] = {1, 1};
    check(platform::sendDatagrams(fd, both, sizes, 2, INADDR_LOOPBACK, ntohs(self.sin_port)) == 2 &&
              platform::waitReadable(fd, waker, int(kDeadlineMs)) == WaitResult::Readable &&
              platform::receiveDatagrams(fd, slots, 4) == 2,
          "a batch send sends each");
    ::closesocket(s);

    // A new socket with a datagram already waiting when it is first tied to the waker.
    SOCKET t = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in other = self;
    other.sin_port = 0;
    length = sizeof other;
    check(::bind(t, reinterpret_cast<sockaddr *>(&other), sizeof other) == 0 &&
              ::getsockname(t, reinterpret_cast<sockaddr *>(&other), &length) == 0,
          "a second socket binds");
    ::sendto(t, "z", 1, 0, reinterpret_cast<sockaddr *>(&other), length);
    waker.watch(std::intptr_t(t));
    check(platform::waitReadable(std::intptr_t(t), waker, int(kDeadlineMs)) == WaitResult::Readable,
          "a datagram that came before the socket was tied ends the first wait");
    ::closesocket(t);
}

// The driver and delivery threads' wait: a notification before the wait is kept, one from another
// thread ends it at once, and each is used up by one wait.
void wakeSignalIsNeverLost()
{
    platform::WakeSignal signal;
    signal.notify();
    check(signal.wait(int(kDeadlineMs)), "a notification before the wait ends it");
    check(!signal.wait(1), "...once");
    const platform::ThreadHandle h = platform::beginThread(
        [](void *s) {
            static_cast<platform::WakeSignal *>(s)->notify();
            platform::endThread();
        },
        &signal);
    const DWORD start = GetTickCount();
    check(signal.wait(int(kDeadlineMs)) && GetTickCount() - start < kDeadlineMs / 2,
          "a notification from another thread ends the wait at once");
    check(platform::waitThread(h, kDeadlineMs), "the notifying thread ends");
    check(!signal.wait(1), "the notification was used up");
}

void timerRequestsArePaired()
{
    {
        const platform::FineTimerResolution fine;
        check(platform::fineTimerRequests() == 1, "timeBeginPeriod(1) is granted and counted");
    }
    check(platform::fineTimerRequests() == 0, "...and given back");
}

} // namespace

int main()
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    WSADATA wsa;
    check(WSAStartup(MAKEWORD(2, 2), &wsa) == 0, "Winsock starts");
    platform::raiseProcessPriority();
    waitAfterTheThreadHasEnded();
    waitTimesOutThenSucceeds();
    cyclesLeaveNoHandles();
    socketWaitEndsOnDatagramsAndWakeUps();
    wakeSignalIsNeverLost();
    timerRequestsArePaired();
    check(platform::waitThread(0, 0), "no thread counts as ended");
    std::printf("platform test: %d failure(s)\n", g_failures);
    return g_failures ? 1 : 0;
}
