#pragma once
// A broadcast channel: an observer keeps a list of receivers (not owned, in
// the order they joined) and hands a parameter to each of them; a receiver
// remembers the observers it joined so that it can leave them all at once.
#include <vector>

namespace Veneer {

template <typename R, typename P>
class IObserver;

template <typename R, typename P>
class IReceiver {
public:
    virtual bool AddObserver(IObserver<R, P>* observer) = 0;
    virtual void RemoveObserver(IObserver<R, P>* observer) = 0;
    virtual void LeaveAllObservers() = 0;
    virtual R Receive(P parameter) = 0;
    virtual R Respond(P parameter, IObserver<R, P>* observer) = 0;
    virtual ~IReceiver() = default;
};

template <typename R, typename P>
class IObserver {
public:
    virtual bool AddReceiver(IReceiver<R, P>* receiver) = 0;
    virtual void RemoveReceiver(IReceiver<R, P>* receiver) = 0;
    virtual R Broadcast(P parameter) = 0;
    virtual R BroadcastReverse(P parameter) = 0;
    virtual R AskReceivers(P parameter) = 0;
    virtual ~IObserver() = default;
};

template <typename R, typename P>
class CObserver : public IObserver<R, P> {
public:
    typedef IReceiver<R, P> Receiver;

    bool AddReceiver(Receiver* receiver) override {
        if (!receiver) return false;
        receiver->AddObserver(this);
        m_receivers.push_back(receiver);
        return true;
    }
    void RemoveReceiver(Receiver* receiver) override {
        for (size_t i = 0; i < m_receivers.size(); ++i) {
            if (m_receivers[i] == receiver) {
                m_receivers.erase(m_receivers.begin() + static_cast<long>(i));
                return;
            }
        }
    }
    // A receiver may leave while it is being told: the walks re-check the
    // index against the list as it is now.
    R Broadcast(P parameter) override {
        for (size_t i = 0; i < m_receivers.size(); ++i) {
            if (m_receivers[i]) m_receivers[i]->Receive(parameter);
        }
        return R();
    }
    R BroadcastReverse(P parameter) override {
        for (size_t i = m_receivers.size(); i > 0; --i) {
            if (i > m_receivers.size()) continue;
            if (Receiver* receiver = m_receivers[i - 1]) receiver->Receive(parameter);
        }
        return R();
    }
    R AskReceivers(P parameter) override {
        for (size_t i = 0; i < m_receivers.size(); ++i) {
            if (m_receivers[i]) m_receivers[i]->Respond(parameter, this);
        }
        return R();
    }

    int GetCount() const { return static_cast<int>(m_receivers.size()); }
    Receiver* GetAt(int index) const {
        return index >= 0 && index < GetCount() ? m_receivers[static_cast<size_t>(index)] : nullptr;
    }

    // Walks the receivers in order, skipping empty entries.
    class Iterator {
    public:
        explicit Iterator(const CObserver& observer) : m_observer(observer) {}
        // The next receiver, null at the end.
        Receiver* Next() {
            while (m_index < m_observer.GetCount()) {
                m_current = m_observer.GetAt(m_index++);
                if (m_current) return m_current;
            }
            m_current = nullptr;
            return nullptr;
        }
        Receiver* Current() const { return m_current; }

    private:
        int m_index = 0;
        const CObserver& m_observer;
        Receiver* m_current = nullptr;
    };

private:
    std::vector<Receiver*> m_receivers;
};

template <typename R, typename P>
class CReceiver : public IReceiver<R, P> {
public:
    typedef IObserver<R, P> Observer;

    bool AddObserver(Observer* observer) override {
        if (!observer) return false;
        m_observers.push_back(observer);
        return true;
    }
    void RemoveObserver(Observer* observer) override {
        for (size_t i = 0; i < m_observers.size(); ++i) {
            if (m_observers[i] == observer) {
                m_observers.erase(m_observers.begin() + static_cast<long>(i));
                return;
            }
        }
    }
    // Leaves every observer joined; the list of them stays as it is.
    void LeaveAllObservers() override {
        for (size_t i = 0; i < m_observers.size(); ++i) m_observers[i]->RemoveReceiver(this);
    }
    R Receive(P) override { return R(); }
    R Respond(P, Observer*) override { return R(); }

protected:
    std::vector<Observer*> m_observers;
};

}  // namespace Veneer
