#pragma once

#include "ventariabstractaction.h"

namespace Ventari {

// Likes (operation 0) or unlikes (any other operation) one message.
class VENTARI_EXPORT VentariLikeUnlikeAction : public VentariAbstractAction
{
    Q_OBJECT

public:
    enum Operation { Like = 0, Unlike = 1 };

    VentariLikeUnlikeAction(int operation, int messageId);

    QUrl url() override;
    bool processData(const QVariantMap& reply) override;

signals:
    void done(Ventari::Message message);

private:
    int m_operation;
    int m_messageId;
};

} // namespace Ventari
