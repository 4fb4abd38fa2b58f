#pragma once
// A thread that is joined when it goes out of scope. A failed ASSERT returns
// from the test early: a joinable std::thread would then end the whole
// executable, and a running one would go on using the test's stack. When the
// thread is still running at that point, `unblock` (if given) first lets it
// finish, for example by opening the stand-in server's gates.
#include <functional>
#include <thread>
#include <utility>

namespace testing_support {

class JoiningThread {
public:
    template <class Body>
    explicit JoiningThread(Body&& body, std::function<void()> unblock = {})
        : m_unblock(std::move(unblock)), m_thread(std::forward<Body>(body)) {}
    ~JoiningThread() {
        if (!m_thread.joinable()) return;
        if (m_unblock) m_unblock();
        m_thread.join();
    }
    JoiningThread(const JoiningThread&) = delete;
    JoiningThread& operator=(const JoiningThread&) = delete;

    void join() { m_thread.join(); }

private:
    std::function<void()> m_unblock;
    std::thread m_thread;
};

}  // namespace testing_support
