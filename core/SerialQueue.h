#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// Work that runs one task after another, in the order queued, on a thread of
// its own: the keychain's slow calls and the timeline's disk writes, kept off
// the GUI thread.
class SerialQueue {
public:
    SerialQueue();
    // Runs everything already queued, then stops the thread.
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void enqueue(std::function<void()> task);
    // Waits until every task queued so far has run. Returns at once on the
    // queue's own thread, which would otherwise wait for itself.
    void waitForIdle();
    bool onQueue() const { return std::this_thread::get_id() == m_thread.get_id(); }

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_tasks;
    bool m_busy = false;
    bool m_stopping = false;
    std::thread m_thread; // last: started once everything above exists
};
