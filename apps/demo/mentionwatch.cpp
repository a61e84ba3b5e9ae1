#include "mentionwatch.h"

#include "messagelistmodel.h"
#include "unreadcounter.h"

#include <iauthorization.h>
#include <iventarimodel.h>
#include <iventariservice.h>
#include <streams/iventaristream.h>
#include <ventaristreamshandler.h>

MentionWatch::MentionWatch(Ventari::IVentariService* service, QObject* parent)
    : QObject(parent)
    , m_service(service)
    , m_rows(new MessageListModel(this))
    , m_counter(new UnreadCounter(m_rows, this))
{
    connect(m_counter, &UnreadCounter::arrived, this, &MentionWatch::arrived);
    m_service->authorization()->subscribe("authorizationChanged", this, "onAuthorizationChanged");
    onAuthorizationChanged();
}

MentionWatch::~MentionWatch()
{
    m_rows->setSource({});
    if (Ventari::IAuthorization* authorization = m_service->authorization())
        authorization->unsubscribe(this);
}

bool MentionWatch::isWatching() const
{
    return !m_rows->source().isNull();
}

// Another user's mentions are another stream: its first answer is where telling starts.
void MentionWatch::onAuthorizationChanged()
{
    Ventari::VentariStreamsHandler* streams = Ventari::VentariStreamsHandler::instance();
    Ventari::IVentariStream* mentions = nullptr;
    for (Ventari::IVentariStream* stream : streams ? streams->streams() : QList<Ventari::IVentariStream*>()) {
        if (stream->id() == "mentions")
            mentions = stream;
    }
    if (!mentions || !m_service->authorization()->isAuthorized()) {
        m_rows->setSource({});
        return;
    }
    m_rows->setSource({});
    m_rows->setSource(m_service->model(mentions, QByteArray(), 0));
}
