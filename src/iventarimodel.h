#pragma once

#include "ventaritypes.h"

#include "common/notifier/commonabstractnotifier.h"

#include <QtCore/QList>
#include <QtCore/QString>

namespace Ventari {

// The messages of one stream through one filter, ascending by id, as the host's views read them;
// views subscribe to the signals below through the notifier operations. Signal lists carry
// message ids, not rows.
class IVentariModel : public virtual Common::INotifier
{
public:
    virtual int count() const = 0;
    virtual Message messageByIndex(int index) const = 0;
    virtual Message messageById(int id) = 0;
    virtual int messageIndex(int id) = 0;
    virtual QList<Message> messages() = 0;
    virtual bool containsMessage(int id) const = 0;
    virtual void likeMessage(int id) = 0;
    virtual void unlikeMessage(int id) = 0;
    virtual void forceUpdateData() = 0;
    virtual void loadOldMessages() = 0;
    virtual bool isFinished() const = 0;
    virtual void follow(bool follow) = 0;
    virtual bool isFollow() const = 0;

protected:
    // Signals of the implementing notifier.
    virtual void messagesAdded(const QList<int>& ids) = 0;
    virtual void messagesRemoved(const QList<int>& ids) = 0;
    virtual void messagesChanged(const QList<int>& ids) = 0;
    virtual void noData() = 0;
    virtual void error(const QString& text) = 0;
    virtual void messagesNoChanged() = 0;
    virtual void followStateChanged(bool follow) = 0;

public:
    // A host marks the models it shows: they are refreshed first and more often.
    virtual void setOnScreen(bool onScreen) = 0;
    virtual bool isOnScreen() const = 0;
    // A host may bound what a model keeps over a long day: past the limit, new messages push the
    // oldest out (reported as removed), and older pages bring them back. 0: no limit.
    virtual void setMessageLimit(int limit) = 0;
};

} // namespace Ventari
