#pragma once

#include "ventariglobal.h"

#include <QtCore/QByteArray>
#include <QtCore/QMetaType>

#include <memory>
#include <typeinfo>

QT_BEGIN_NAMESPACE
class QObject;
QT_END_NAMESPACE

namespace Common {

class AbstractNotifierPrivate;

// What became of a notifier request.
enum NotifierResult {
    resultOk = 0,
    resultSignalNotFound = 1,     // the notifier (or the forwarding target) has no such signal
    resultSlotNotFound = 2,       // the observer has no such slot
    resultAlreadySubscribed = 3,  // an equal link is already registered
    resultNotSubscribed = 4,      // no such link is registered
    resultConnectFailed = 5       // QObject::connect or QObject::disconnect returned false
};

// Root of the interfaces: reaches any other base class of the object behind an interface.
class VENTARI_EXPORT IObject
{
public:
    // The object cast by run-time type information to the requested class, or null.
    virtual void* castTo(const std::type_info& type);
    virtual ~IObject();

    template <typename T>
    T* castTo() { return static_cast<T*>(castTo(typeid(T))); }
};

// One subscription: a notifier's signal delivered to an observer's slot or re-emitted as its signal.
struct VENTARI_EXPORT Link
{
    // The receiving end of a link.
    struct Delegate
    {
        QObject* observer = nullptr;
        QByteArray method; // normalized "1slot(...)" or, when forwarding, "2signal(...)"
    };

    Delegate delegate;
    QByteArray signalName;      // "userInfoChanged"
    QByteArray signalSignature; // normalized "2userInfoChanged()"

    bool isValid() const;
    bool operator==(const Link& other) const;
    bool operator!=(const Link& other) const { return !(*this == other); }
    // By signal name and signature, then observer address, then method.
    bool operator<(const Link& other) const;
};

// Subscription to an object's signals by signal and slot names.
class VENTARI_EXPORT INotifier : public virtual IObject
{
public:
    // Lets every notifier class declare its attached_ and detached_ slots with "const Link*".
    using Link = Common::Link;

    virtual void subscribe(QObject* observer) = 0;
    virtual void subscribe(QObject* observer, const QByteArray& signal) = 0;
    virtual void subscribe(const QByteArray& signal, QObject* observer, const QByteArray& slot) = 0;
    virtual void unsubscribe(QObject* observer) = 0;
    virtual void unsubscribe(QObject* observer, const QByteArray& signal) = 0;
    virtual void unsubscribe(const QByteArray& signal, QObject* observer, const QByteArray& slot) = 0;
    virtual bool isSubscribed(QObject* observer, const QByteArray& signal) = 0;
    virtual bool isSubscribed(const QByteArray& signal, QObject* observer, const QByteArray& slot) = 0;
    virtual bool isSubscribed(QObject* observer) = 0;
    virtual void forward(const QByteArray& signal, QObject* target, const QByteArray& targetSignal) = 0;
    virtual void forward(QObject* target, const QByteArray& signal) = 0;
};

// The notifier operations for a QObject that also derives from this class: its signals are the
// events, observers subscribe by names, and misuse is reported to the host instead of thrown.
class VENTARI_EXPORT AbstractNotifier : public virtual INotifier
{
public:
    AbstractNotifier();
    ~AbstractNotifier() override;

    void subscribe(QObject* observer) override;
    void subscribe(QObject* observer, const QByteArray& signal) override;
    void subscribe(const QByteArray& signal, QObject* observer, const QByteArray& slot) override;
    void unsubscribe(QObject* observer) override;
    void unsubscribe(QObject* observer, const QByteArray& signal) override;
    void unsubscribe(const QByteArray& signal, QObject* observer, const QByteArray& slot) override;
    bool isSubscribed(QObject* observer, const QByteArray& signal) override;
    bool isSubscribed(const QByteArray& signal, QObject* observer, const QByteArray& slot) override;
    bool isSubscribed(QObject* observer) override;
    void forward(const QByteArray& signal, QObject* target, const QByteArray& targetSignal) override;
    void forward(QObject* target, const QByteArray& signal) override;

    // Connects or disconnects one resolved link; returns a NotifierResult.
    int subscribe(const Link& link);
    int unsubscribe(const Link& link);

    virtual QObject* qobject();

protected:
    // Called after a link has been registered or removed; the pointer is valid during the call only.
    virtual void onLinkAttached(const Link* link);
    virtual void onLinkDetached(const Link* link);

private:
    Q_DISABLE_COPY(AbstractNotifier)
    friend class AbstractNotifierPrivate;

    std::unique_ptr<AbstractNotifierPrivate> m_d;
};

} // namespace Common

Q_DECLARE_METATYPE(const Common::Link*)
