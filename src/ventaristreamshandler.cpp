#include "ventaristreamshandler.h"

#include "common/reports.h"
#include "streams/ventaristream.h"
#include "streams/ventarisymbolstream.h"
#include "streams/ventariuserstream.h"
#include "streams/ventariwatchliststream.h"

namespace Ventari {

VentariStreamsHandler* VentariStreamsHandler::s_instance = nullptr;

VentariStreamsHandler::VentariStreamsHandler()
{
    static quint64 s_made = 0;
    m_generation = ++s_made;
    VR_ASSERT(!s_instance);
    s_instance = this;

    const StreamFilters shortFilters{StreamFilter(tr("All"), QString())};
    const StreamFilters fullFilters = shortFilters
        + StreamFilters{StreamFilter(tr("Charts"), QStringLiteral("charts")),
                        StreamFilter(tr("Videos"), QStringLiteral("videos")),
                        StreamFilter(tr("Links"), QStringLiteral("links"))};

    addStream(new VentariSymbolStream(fullFilters));
    addStream(new VentariUserStream(fullFilters));
    addStream(new VentariStream("suggested", 1, tr("Suggested"), QStringLiteral("suggested.json"), fullFilters));
    addStream(new VentariStream("trending", 1, tr("Trending"), QStringLiteral("trending.json"), fullFilters));
    addStream(new VentariStream("charts", 1, tr("Charts"), QStringLiteral("charts.json"), shortFilters));
    addStream(new VentariStream("investor-relations", 1, tr("Investor Relations"),
                                QStringLiteral("investor_relations.json"), fullFilters));
    addStream(new VentariStream("home", 2, tr("People & Stocks"), QStringLiteral("home.json"), fullFilters));
    addStream(new VentariStream("friends", 2, tr("People"), QStringLiteral("friends.json"), fullFilters));
    addStream(new VentariWatchListStream(fullFilters));
    addStream(new VentariStream("mentions", 2, tr("Mentions"), QStringLiteral("mentions.json"), shortFilters));
}

// Releasing the owning list deletes every stream.
VentariStreamsHandler::~VentariStreamsHandler()
{
    if (s_instance == this)
        s_instance = nullptr;
    m_streams.clear();
    m_ownedStreams.clear();
}

VentariStreamsHandler* VentariStreamsHandler::instance()
{
    return s_instance;
}

quint64 VentariStreamsHandler::generation()
{
    return s_instance ? s_instance->m_generation : 0;
}

QList<IVentariStream*> VentariStreamsHandler::streams() const
{
    return m_streams;
}

IVentariStream* VentariStreamsHandler::streamById(const QByteArray& id) const
{
    for (IVentariStream* stream : m_streams) {
        if (stream->id() == id)
            return stream;
    }
    VR_ASSERT(!"not found");
    return nullptr;
}

void VentariStreamsHandler::addStream(VentariStream* stream)
{
    m_streams.append(stream);
    m_ownedStreams.append(QSharedPointer<VentariStream>(stream));
}

} // namespace Ventari
