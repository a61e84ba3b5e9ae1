#include "messages.h"

#include <QtCore/QMetaType>

namespace Dravon {

Request::~Request() = default;
Response::~Response() = default;

EncryptedContentRequest::EncryptedContentRequest(const QByteArray& fileName, const QByteArray& key)
    : m_fileName(fileName)
    , m_key(key)
{
}

int EncryptedContentRequest::registeredType()
{
    static const int id = qRegisterMetaType<EncryptedContentRequest>("EncryptedContentRequest");
    return id;
}

EncryptedContentResponse::EncryptedContentResponse(const QByteArray& content)
    : m_content(content)
{
}

int EncryptedContentResponse::registeredType()
{
    static const int id = qRegisterMetaType<EncryptedContentResponse>("EncryptedContentResponse");
    return id;
}

ErrorResponse::ErrorResponse(const QString& reason)
    : m_reason(reason)
{
}

int ErrorResponse::registeredType()
{
    static const int id = qRegisterMetaType<ErrorResponse>("ErrorResponse");
    return id;
}

namespace {

// The names are known to the meta-type system from library load on, before any message is made.
struct Registration
{
    Registration()
    {
        EncryptedContentRequest::registeredType();
        EncryptedContentResponse::registeredType();
        ErrorResponse::registeredType();
    }
};

const Registration s_registration;

} // namespace

} // namespace Dravon
