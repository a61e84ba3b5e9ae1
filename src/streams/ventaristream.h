#pragma once

#include "streams/iventaristream.h"
#include "ventariglobal.h"

namespace Ventari {

// A stream described by fixed values; the parameterized streams add their editors.
class VENTARI_EXPORT VentariStream : public IVentariStream
{
public:
    VentariStream(const QByteArray& id, int authorizationMode, const QString& name, const QString& jsonPath,
                  const StreamFilters& filters);

    QByteArray id() const override;
    int authorizationMode() const override;
    QString name() const override;
    bool needsId() const override;
    QWidget* createIdControl(QWidget* parent, const char* editDoneSlot) override;
    QString jsonPath() const override;
    QString controlValue(QWidget* control) const override;
    void setControlValue(QWidget* control, const QString& value) const override;
    StreamFilters filters() const override;
    bool canFollow() const override;

private:
    int m_authorizationMode;
    QString m_name;
    QString m_jsonPath;
    QByteArray m_id;
    StreamFilters m_filters;
};

} // namespace Ventari
