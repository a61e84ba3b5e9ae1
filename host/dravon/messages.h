#pragma once

#include "hostglobal.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>

// Messages of the host's data library. Every concrete message registers itself as a Qt meta type
// under its own name; type() gives that id, clone() a copy of the concrete message.
namespace Dravon {

// Base of the requests a Requester sends.
class HOST_EXPORT Request
{
public:
    virtual ~Request();
    virtual int type() const = 0;
    virtual Request* clone() const = 0;
};

// Base of the answers a Requester delivers.
class HOST_EXPORT Response
{
public:
    virtual ~Response();
    virtual int type() const = 0;
    virtual Response* clone() const = 0;
};

// The type() and clone() of a concrete message, from its registeredType() and its copy.
template <typename Derived, typename Base>
class MessageOf : public Base
{
public:
    int type() const override { return Derived::registeredType(); }
    Base* clone() const override { return new Derived(static_cast<const Derived&>(*this)); }
};

// Asks for a content file of the host's data folder.
class HOST_EXPORT EncryptedContentRequest : public MessageOf<EncryptedContentRequest, Request>
{
public:
    EncryptedContentRequest() = default;
    // key names the key the content is sealed with; empty means the default key.
    explicit EncryptedContentRequest(const QByteArray& fileName, const QByteArray& key = QByteArray());

    static int registeredType();

    QByteArray fileName() const { return m_fileName; }
    QByteArray key() const { return m_key; }

private:
    QByteArray m_fileName;
    QByteArray m_key;
};

// A content file, handed over as plain text.
class HOST_EXPORT EncryptedContentResponse : public MessageOf<EncryptedContentResponse, Response>
{
public:
    EncryptedContentResponse() = default;
    explicit EncryptedContentResponse(const QByteArray& content);

    static int registeredType();

    QByteArray content() const { return m_content; }

private:
    QByteArray m_content;
};

// The answer to a request that could not be served.
class HOST_EXPORT ErrorResponse : public MessageOf<ErrorResponse, Response>
{
public:
    ErrorResponse() = default;
    explicit ErrorResponse(const QString& reason);

    static int registeredType();

    QString reason() const { return m_reason; }

private:
    QString m_reason;
};

} // namespace Dravon
