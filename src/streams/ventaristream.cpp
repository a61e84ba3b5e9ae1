#include "ventaristream.h"

namespace Ventari {

VentariStream::VentariStream(const QByteArray& id, int authorizationMode, const QString& name,
                             const QString& jsonPath, const StreamFilters& filters)
    : m_authorizationMode(authorizationMode)
    , m_name(name)
    , m_jsonPath(jsonPath)
    , m_id(id)
    , m_filters(filters)
{
}

QByteArray VentariStream::id() const
{
    return m_id;
}

int VentariStream::authorizationMode() const
{
    return m_authorizationMode;
}

QString VentariStream::name() const
{
    return m_name;
}

bool VentariStream::needsId() const
{
    return false;
}

QWidget* VentariStream::createIdControl(QWidget*, const char*)
{
    return nullptr;
}

QString VentariStream::jsonPath() const
{
    return m_jsonPath;
}

QString VentariStream::controlValue(QWidget*) const
{
    return QString();
}

void VentariStream::setControlValue(QWidget*, const QString&) const
{
}

StreamFilters VentariStream::filters() const
{
    return m_filters;
}

bool VentariStream::canFollow() const
{
    return false;
}

} // namespace Ventari
