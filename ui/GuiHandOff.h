// Hands results from a worker thread to the GUI thread: a guarded queue and one queued wake-up per batch.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <cstddef>
#include <limits>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// The receiver's method a hand-off wakes, named from the member itself: HAND_OFF_METHOD(CClass, Take) does
// not compile unless CClass has a method Take taking no arguments, so a misspelt name cannot slip through
// to run time. In a debug build the constructor also checks that Qt can call the method by its name
// (it must be Q_INVOKABLE or a slot).
class CHandOffMethod {
public:
    template <typename Receiver>
    CHandOffMethod(void (Receiver::*)(), const char* name) : m_name(name) {
        Q_ASSERT(Receiver::staticMetaObject.indexOfMethod((std::string(name) + "()").c_str()) >= 0);
    }
    const char* Name() const { return m_name; }

private:
    const char* m_name;
};
#define HAND_OFF_METHOD(Class, Method) CHandOffMethod(&Class::Method, #Method)

// Post may be called from any thread and never blocks on the GUI thread, so the GUI thread may join the
// posting worker at any time. When the queue was empty, Post asks the receiver's thread to call the
// method, which calls Take. The method is called by name so that Qt makes and frees the queued call
// itself: a functor's call would be made on the worker and freed on the GUI thread by our code, a
// hand-over through Qt's event queue whose locking ThreadSanitizer cannot see. A call still queued when
// the receiver goes is dropped with it.
template <typename T>
class CGuiHandOff {
public:
    // method: HAND_OFF_METHOD of the receiver's Q_INVOKABLE taking no arguments. Beyond maxPending items
    // the oldest are dropped, so a held-up GUI thread cannot make the queue grow without end.
    CGuiHandOff(QObject* receiver, CHandOffMethod method,
                std::size_t maxPending = std::numeric_limits<std::size_t>::max())
        : m_receiver(receiver), m_method(method.Name()), m_maxPending(maxPending) {}
    CGuiHandOff(const CGuiHandOff&) = delete;
    CGuiHandOff& operator=(const CGuiHandOff&) = delete;

    // Any thread.
    void Post(T item) {
        bool wasEmpty = false;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            wasEmpty = m_items.empty();
            if (m_items.size() >= m_maxPending) m_items.erase(m_items.begin());
            m_items.push_back(std::move(item));
        }
        if (wasEmpty) QMetaObject::invokeMethod(m_receiver, m_method, Qt::QueuedConnection);
    }
    // The receiver's thread: everything posted so far, in order.
    std::vector<T> Take() {
        std::vector<T> items;
        const std::lock_guard<std::mutex> lock(m_mutex);
        items.swap(m_items);
        return items;
    }
    // Drops what was posted and not taken yet.
    void Clear() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_items.clear();
    }

private:
    QObject* const m_receiver;
    const char* const m_method;
    const std::size_t m_maxPending;
    std::mutex m_mutex;
    std::vector<T> m_items;  // guarded by m_mutex
};

// Any thread: asks the receiver's thread to call the method (HAND_OFF_METHOD) once, made and freed by Qt
// as a hand-off's wake-up is.
inline void QueueCall(QObject* receiver, CHandOffMethod method) {
    QMetaObject::invokeMethod(receiver, method.Name(), Qt::QueuedConnection);
}
