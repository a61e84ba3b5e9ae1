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

// Another user's mentions are another stream: its first answer is where telling starts.
void MentionWatch::onAuthorizationChanged()
{
    m_rows->setSource({});
    Ventari::VentariStreamsHandler* streams = Ventari::VentariStreamsHandler::instance();
    if (streams && m_service->authorization()->isAuthorized())
        m_rows->setSource(m_service->model(streams->streamById("mentions"), QByteArray(), 0));
}
