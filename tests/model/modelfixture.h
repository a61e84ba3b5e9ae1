#pragma once

#include "messagenotation.h"
#include "streamhost.h"

#include "actions/ventaristreamaction.h"
#include "iventarimodel.h"
#include "ventarimodel.h"

#include <QtCore/QObject>
#include <QtCore/QStringList>
#include <QtTest/QTest>

#include <memory>

namespace ModelTest {

// The observer's event for a signal carrying ids: "added 10 20".
inline QString idsEvent(const char* signal, const QList<int>& ids)
{
    QString event = QLatin1String(signal);
    for (int id : ids)
        event += QLatin1Char(' ') + QString::number(id);
    return event;
}

// Watches a model as a host view does, subscribed through the notifier by signal and slot names;
// each signal becomes one event: "added 10 20", "removed 30", "changed 20", "noData", "noChange",
// "error <text>" or "follow true".
class ModelObserver : public QObject
{
    Q_OBJECT

public:
    explicit ModelObserver(Ventari::IVentariModel* model)
    {
        model->subscribe("messagesAdded", this, "onAdded");
        model->subscribe("messagesRemoved", this, "onRemoved");
        model->subscribe("messagesChanged", this, "onChanged");
        model->subscribe("noData", this, "onNoData");
        model->subscribe("error", this, "onError");
        model->subscribe("messagesNoChanged", this, "onNoChange");
        model->subscribe("followStateChanged", this, "onFollowStateChanged");
    }

    bool waitForEvents(int count) { return QTest::qWaitFor([&] { return events.size() >= count; }, 10000); }
    // The events so far, forgotten afterwards.
    QStringList take()
    {
        const QStringList taken = events;
        events.clear();
        return taken;
    }

    QStringList events;

public slots:
    void onAdded(const QList<int>& ids) { events.append(idsEvent("added", ids)); }
    void onRemoved(const QList<int>& ids) { events.append(idsEvent("removed", ids)); }
    void onChanged(const QList<int>& ids) { events.append(idsEvent("changed", ids)); }
    void onNoData() { events.append(QStringLiteral("noData")); }
    void onError(const QString& text) { events.append(QStringLiteral("error ") + text); }
    void onNoChange() { events.append(QStringLiteral("noChange")); }
    void onFollowStateChanged(bool follow) { events.append(follow ? QStringLiteral("follow true") : QStringLiteral("follow false")); }

};

// A model with its observer attached right after construction, as a host window holds them.
struct ObservedModel
{
    ObservedModel(Ventari::IVentariStream* stream, const QByteArray& value, int filter = 0)
        : model(std::make_unique<Ventari::VentariModel>(stream, value, filter))
        , observer(model.get())
    {
    }

    std::unique_ptr<Ventari::VentariModel> model;
    ModelObserver observer;
};

// Refresh requests handed to the handler and neither answered nor cancelled.
inline int pendingRefreshes(const StreamsTest::StreamHost& host)
{
    int count = 0;
    for (const auto* action : host.started().handler()->findChildren<Ventari::VentariStreamAction*>())
        count += action->priority() == 2 && !action->isCancelled();
    return count;
}

// Requests the emulator received for one path below "/api/2/".
inline int requestCount(const QString& path)
{
    return int(ProtocolTest::requestsTo(path).size());
}

inline int userId(const char* username)
{
    const auto user = sharedEmulator().store().userByName(username);
    return user ? user->id : -2;
}

} // namespace ModelTest
