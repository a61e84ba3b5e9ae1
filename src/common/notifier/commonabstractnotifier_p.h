#pragma once

#include "commonabstractnotifier.h"

#include "common/criticalsection.h"
#include "common/reports.h"

#include <QtCore/QObject>

#include <atomic>
#include <map>
#include <memory>
#include <set>

namespace Common {

class MetaObjectInfo;
class NotifierTeardown;
class ObserverDestroyHelper;
class SignalInfo;

using LinkSet = std::set<Link>;

// The qualified name LinksByKey<K>::erase reports under, one per key type in use.
template <typename K>
const char* linksByKeyEraseFunction();
template <>
inline const char* linksByKeyEraseFunction<const QObject*>()
{
    return "Common::AbstractNotifierPrivate::LinksByKey<class QObject const *>::erase";
}
template <>
inline const char* linksByKeyEraseFunction<QByteArray>()
{
    return "Common::AbstractNotifierPrivate::LinksByKey<class QByteArray>::erase";
}

// The link registry of one notifier and the rules that turn names into links.
class VENTARI_EXPORT AbstractNotifierPrivate
{
public:
    // A resolved request: a valid link, or the reason why there is none.
    class VENTARI_EXPORT LinkOrError
    {
    public:
        explicit LinkOrError(const Link& link);
        explicit LinkOrError(int r);

        bool isOk() const { return m_result == resultOk; }
        int result() const { return m_result; }
        const Link& link() const { return m_link; }

    private:
        Link m_link;
        int m_result;
    };

    // Links grouped under a key; each group keeps link order.
    template <typename K>
    class LinksByKey
    {
    public:
        void insert(const K& key, const Link& link) { m_groups[key].insert(link); }
        void erase(const K& key, const Link& link);
        // An absent key yields the one shared empty set.
        const LinkSet& links(const K& key) const;
        bool contains(const K& key) const { return m_groups.count(key) > 0; }
        bool isEmpty() const { return m_groups.empty(); }
        void clear() { m_groups.clear(); }

    private:
        std::map<K, LinkSet> m_groups;
    };

    explicit AbstractNotifierPrivate(AbstractNotifier* owner);
    ~AbstractNotifierPrivate();

    // The notifier's own signals and slots, looked up once.
    const MetaObjectInfo& metaInfo();
    static const MetaObjectInfo& metaInfoOf(const QObject* object);
    static Link makeLink(QObject* observer, const QByteArray& decoratedMethod, const SignalInfo& signal);
    static const LinkSet& emptyLinkSet();

    LinkOrError resolveNamed(const QByteArray& signal, QObject* observer, const QByteArray& slot);
    LinkOrError resolveBySlotConvention(QObject* observer, const QByteArray& signal);
    LinkOrError resolveForward(const QByteArray& signal, QObject* target, const QByteArray& targetSignal);
    LinkOrError resolveForward(QObject* target, const QByteArray& signal);
    LinkOrError resolveObserverLink(QObject* observer, const QByteArray& signal);

    int connectLink(const Link& link);
    int disconnectLink(const Link& link);
    int connectRequest(const LinkOrError& request)
    {
        return request.isOk() ? connectLink(request.link()) : request.result();
    }
    int disconnectRequest(const LinkOrError& request)
    {
        return request.isOk() ? disconnectLink(request.link()) : request.result();
    }
    // The resolution error, or whether an equal link is registered.
    int subscriptionState(const LinkOrError& request) const;

    bool isRegistered(const Link& link) const { return m_links.count(link) > 0; }
    const LinkSet& linksOf(const QObject* observer) const { return m_linksByObserver.links(observer); }

    // Run by an observer's destroy helper while the observer is being destroyed.
    void forgetDestroyHelper(const QObject* observer);
    void observerDestroyed(QObject* observer);
    // The notifier is going: cuts its observers' helpers off and drops every link, without calls.
    void detachObservers();

    static void callAttachDetachSlots(QObject* object, const QByteArray& prefix, const Link* link);

    Qt::ConnectionType m_connectionType;
    LinkSet m_links;
    LinksByKey<const QObject*> m_linksByObserver;
    LinksByKey<QByteArray> m_linksBySignal;
    std::map<const QObject*, ObserverDestroyHelper*> m_destroyHelpers;

private:
    Q_DISABLE_COPY(AbstractNotifierPrivate)

    void registerLink(const Link& link);
    void removeLink(Link link);

    AbstractNotifier* m_owner;
    const MetaObjectInfo* m_metaInfo;
    std::atomic<bool> m_metaInfoReady;
    CriticalSection m_lock;
    std::unique_ptr<NotifierTeardown> m_teardown; // made with the first destroy helper
};

template <typename K>
void AbstractNotifierPrivate::LinksByKey<K>::erase(const K& key, const Link& link)
{
    const auto it = m_groups.find(key);
    if (!Reports::check(it != m_groups.end(), VR_HERE_AS(linksByKeyEraseFunction<K>()), nullptr, "it != end()"))
        return;
    it->second.erase(link);
    if (it->second.empty())
        m_groups.erase(it);
}

template <typename K>
const LinkSet& AbstractNotifierPrivate::LinksByKey<K>::links(const K& key) const
{
    const auto it = m_groups.find(key);
    return it == m_groups.end() ? emptyLinkSet() : it->second;
}

} // namespace Common
