#pragma once

#include <QtCore/QByteArray>
#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QString>

namespace Ventari {
class VentariAbstractAction;
class VentariActionHandler;
}

namespace Soak {

class ActionLedger;

// A stream of the host's registry and the value a model shows it for.
struct SoakStream
{
    QByteArray id;
    QByteArray value;
};

// A stream load as a model makes it, and the signal that carries its result.
Ventari::VentariAbstractAction* newStreamLoad(const SoakStream& stream, int priority);
extern const char* const streamLoadResult;

// One message model's traffic for one stream, as the model makes it: a first load at once, one
// refresh at the lowest priority after each answered load, likes and unlikes of its messages, and
// the queued refresh cancelled when it closes.
class SoakModel : public QObject
{
    Q_OBJECT

public:
    SoakModel(const SoakStream& stream, Ventari::VentariActionHandler* handler, ActionLedger& ledger);

    void start();
    void like(int messageId, bool unlike);
    void close();
    // False once an action could not be connected to, so that its outcome would go unseen.
    bool isFollowed() const { return m_followed; }

private slots:
    void onLoadAnswered();

private:
    void load(int priority);

    SoakStream m_stream;
    Ventari::VentariActionHandler* m_handler;
    ActionLedger& m_ledger;
    QPointer<Ventari::VentariAbstractAction> m_pending;
    bool m_closed = false;
    bool m_followed = true;
};

} // namespace Soak
