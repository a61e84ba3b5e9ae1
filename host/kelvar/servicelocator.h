#pragma once

#include "hostglobal.h"
#include "hostreports.h"

#include <QtCore/QByteArray>
#include <QtCore/QMap>

#include <typeinfo>

namespace Kelvar {

// The process-wide registry of host and plugin services, keyed by the interface's type name.
// The storage owns each implementation and deletes it through its concrete type.
class HOST_EXPORT ServiceLocator
{
public:
    static ServiceLocator* instance();

    template <typename Interface, typename Implementation>
    void addService(Implementation* implementation)
    {
        const QByteArray key = typeid(Interface).name();
        if (m_services.contains(key)) {
            KELVAR_REPORT("Service already exists");
            delete implementation;
            return;
        }
        m_services.insert(key, new TypedStorage<Implementation>(implementation,
                                                               static_cast<Interface*>(implementation)));
    }

    template <typename Interface>
    void destroyService()
    {
        Storage* storage = m_services.take(typeid(Interface).name());
        if (!storage) {
            KELVAR_REPORT("Service not found");
            return;
        }
        delete storage;
    }

    template <typename Interface>
    Interface* service() const
    {
        const Storage* storage = m_services.value(typeid(Interface).name());
        if (!storage) {
            KELVAR_REPORT("Service not found");
            return nullptr;
        }
        if (!storage->interface) {
            KELVAR_REPORT("storage");
            return nullptr;
        }
        return static_cast<Interface*>(storage->interface);
    }

    template <typename Interface>
    bool hasService() const
    {
        return m_services.contains(typeid(Interface).name());
    }

private:
    struct Storage
    {
        explicit Storage(void* i) : interface(i) {}
        virtual ~Storage() = default;
        void* interface;
    };

    template <typename Implementation>
    struct TypedStorage : Storage
    {
        TypedStorage(Implementation* i, void* asInterface) : Storage(asInterface), implementation(i) {}
        ~TypedStorage() override { delete implementation; }
        Implementation* implementation;
    };

    ServiceLocator() = default;
    ~ServiceLocator();

    QMap<QByteArray, Storage*> m_services;
};

} // namespace Kelvar
