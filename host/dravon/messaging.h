#pragma once

#include "messages.h"

#include <memory>

namespace Dravon {
namespace Messaging {

// Where a Requester hands a response of one type.
class HOST_EXPORT IBinding
{
public:
    virtual ~IBinding() = default;
    virtual void deliver(int requestId, const Response& response) = 0;
};

using IBindingSharedPtr = std::shared_ptr<IBinding>;

// Calls receiver->handler(requestId, response) for responses of ResponseClass.
template <typename Receiver, typename ResponseClass>
class Binding : public IBinding
{
public:
    using Handler = void (Receiver::*)(int, const ResponseClass&);

    Binding(Receiver* receiver, Handler handler)
        : m_receiver(receiver)
        , m_handler(handler)
    {
    }

    void deliver(int requestId, const Response& response) override
    {
        // A response bound under another type's id is not this binding's to handle.
        if (const auto* typed = dynamic_cast<const ResponseClass*>(&response))
            (m_receiver->*m_handler)(requestId, *typed);
    }

private:
    Receiver* m_receiver;
    Handler m_handler;
};

} // namespace Messaging
} // namespace Dravon
