#pragma once

#include "ventariglobal.h"

#include <kelvar/commoninputmodel.h>

namespace Ventari {

// The values a stream's combo editor offers; with a settings key they are kept across restarts.
class VENTARI_EXPORT StreamIdInputModel : public CommonInputModel
{
    Q_OBJECT

public:
    // An empty key keeps the values in memory only.
    explicit StreamIdInputModel(const QByteArray& settingsKey);
    ~StreamIdInputModel() override;

    void setItems(const QList<QByteArray>& items);

    QByteArray defaultValue() const override;
    bool acceptsValue(const QByteArray& value) const override;

private:
    QByteArray m_settingsKey;
};

} // namespace Ventari
