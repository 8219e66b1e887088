#include "platform/passtrace.h"

#include "platform/clock.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <mutex>
#include <vector>

namespace platform {
namespace passtrace {

std::atomic<bool> g_on{false};

namespace {

constexpr int kMaxSentRecords = 512;
constexpr const char *kTraceFile = "TarnixDDC_trace.txt";
constexpr const char *kWorkerNames[kWorkers] = {"driver", "stream", "delivery"};

struct Figures
{
    unsigned long long passes = 0;
    std::int64_t longestPassUs = 0;
    std::int64_t longestPassAtUs = 0;
    std::int64_t latestWakeUs = 0;
    std::int64_t latestWakeAtUs = 0;
    bool latestWakeNotified = false;
};

struct Sent
{
    int code;
    std::int64_t atUs;
    std::int64_t waitedUs;
};

std::mutex g_mutex;
Figures g_figures[kWorkers];
std::deque<std::int64_t> g_queuedAtUs;
std::vector<Sent> g_sent;
std::int64_t g_originUs = -1; // the first record since the last flush; times are printed from it

std::int64_t sinceOrigin(std::int64_t us)
{
    if (g_originUs < 0)
        g_originUs = us;
    return us - g_originUs;
}

double ms(std::int64_t us)
{
    return double(us) / 1000.0;
}

} // namespace

void setOn(bool on)
{
    g_on = on;
}

std::int64_t nowUs()
{
    return monotonicNs() / 1000;
}

void Passes::begin(int boundMs)
{
    const std::int64_t now = nowUs();
    m_waitStartUs = now;
    m_waitBoundUs = std::int64_t(waitBoundMs(boundMs)) * 1000;
    if (m_passStartUs < 0)
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    Figures &f = g_figures[m_worker];
    ++f.passes;
    const std::int64_t at = sinceOrigin(m_passStartUs);
    if (now - m_passStartUs > f.longestPassUs) {
        f.longestPassUs = now - m_passStartUs;
        f.longestPassAtUs = at;
    }
}

void Passes::end(std::int64_t notifiedUs)
{
    const std::int64_t now = nowUs();
    m_passStartUs = now;
    if (m_waitStartUs < 0)
        return;
    // Due when notified (at once for a notification that came before the wait), else at its bound; a
    // datagram that ended the wait early counts as on time.
    const std::int64_t due =
        notifiedUs >= 0 ? std::max(notifiedUs, m_waitStartUs) : m_waitStartUs + m_waitBoundUs;
    const std::int64_t late = now - due;
    std::lock_guard<std::mutex> lock(g_mutex);
    Figures &f = g_figures[m_worker];
    const std::int64_t at = sinceOrigin(now);
    if (late > f.latestWakeUs) {
        f.latestWakeUs = late;
        f.latestWakeAtUs = at;
        f.latestWakeNotified = notifiedUs >= 0;
    }
}

void controlQueued()
{
    if (!on())
        return;
    const std::int64_t now = nowUs();
    std::lock_guard<std::mutex> lock(g_mutex);
    sinceOrigin(now);
    g_queuedAtUs.push_back(now);
}

void controlSent(const unsigned char *datagram, int size)
{
    if (!on())
        return;
    const std::int64_t now = nowUs();
    std::lock_guard<std::mutex> lock(g_mutex);
    // Queued while the trace was off, or before the last flush: nothing to measure it from.
    if (g_queuedAtUs.empty())
        return;
    const std::int64_t queued = g_queuedAtUs.front();
    g_queuedAtUs.pop_front();
    if (g_sent.size() < size_t(kMaxSentRecords))
        g_sent.push_back({size >= 4 ? datagram[2] | datagram[3] << 8 : -1, sinceOrigin(now), now - queued});
}

void flush()
{
    if (!on())
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    // A connection that never got going (or a second close) leaves no block.
    if (g_originUs < 0)
        return;
    if (std::FILE *out = std::fopen(kTraceFile, "a")) {
        std::fprintf(
            out,
            "connection (ms from its first record; a pass runs from one wait's return to the next wait)\n");
        for (int w = 0; w < kWorkers; ++w) {
            const Figures &f = g_figures[w];
            std::fprintf(
                out, "  %-8s %7llu passes, longest pass %7.2f at %8.1f, latest wake-up %7.2f at %8.1f%s\n",
                kWorkerNames[w], f.passes, ms(f.longestPassUs), ms(f.longestPassAtUs), ms(f.latestWakeUs),
                ms(f.latestWakeAtUs),
                f.latestWakeUs > 0 ? (f.latestWakeNotified ? " (notified)" : " (bound)") : "");
        }
        std::fprintf(out, "  control datagrams: sent at, code, queued to sent\n");
        for (const Sent &s : g_sent)
            std::fprintf(out, "    %8.1f 0x%04x %6.2f\n", ms(s.atUs), unsigned(s.code), ms(s.waitedUs));
        std::fclose(out);
    }
    // The queue times stay: what is still queued leaves with the next connection.
    for (Figures &f : g_figures)
        f = Figures();
    g_sent.clear();
    g_originUs = -1;
}

} // namespace passtrace
} // namespace platform
