#pragma once

#include "ventariglobal.h"

#include <QtCore/QByteArray>
#include <QtCore/QCoreApplication>
#include <QtCore/QList>
#include <QtCore/QSharedPointer>

namespace Ventari {

class IVentariStream;
class VentariStream;

// The registry of every stream the service offers, in the order the host lists them.
class VENTARI_EXPORT VentariStreamsHandler
{
    Q_DECLARE_TR_FUNCTIONS(VentariStreamsHandler)

public:
    VentariStreamsHandler();
    ~VentariStreamsHandler();

    // The live registry, or null.
    static VentariStreamsHandler* instance();
    // Which registry is live: a number of its own for each one made, 0 while there is none. A
    // stream belongs to the registry that was live when it was handed out.
    static quint64 generation();

    QList<IVentariStream*> streams() const;
    // Reports and returns null when no stream has this id.
    IVentariStream* streamById(const QByteArray& id) const;

private:
    Q_DISABLE_COPY(VentariStreamsHandler)

    void addStream(VentariStream* stream);

    QList<IVentariStream*> m_streams;
    QList<QSharedPointer<VentariStream>> m_ownedStreams;

    quint64 m_generation;

    static VentariStreamsHandler* s_instance;
};

} // namespace Ventari
