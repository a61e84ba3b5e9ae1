#pragma once

#include "ventariabstractaction.h"

namespace Ventari {

class IVentariStream;

// Loads one page of a stream: the newest messages, or those older than a given message id. For a
// stream about one symbol or user it also reports whether that subject is followed, and its id.
class VENTARI_EXPORT VentariStreamAction : public VentariAbstractAction
{
    Q_OBJECT

public:
    // stream must outlive the action; filterIndex indexes its filters.
    VentariStreamAction(IVentariStream* stream, const QByteArray& streamValue, int filterIndex, int priority);

    // Asks for the messages older than this id; -1 for the newest.
    void setMaxId(int maxId) { m_maxId = maxId; }
    int maxId() const { return m_maxId; }

    QUrl url() override;
    bool processData(const QVariantMap& reply) override;

signals:
    void dataObtained(const Ventari::Messages& messages);
    void following(bool isFollowing);
    void streamId(int id);

private:
    void reportSubject(const QVariantMap& reply);

    IVentariStream* m_stream;
    QByteArray m_streamValue;
    int m_filterIndex;
    int m_maxId = -1;
};

} // namespace Ventari
