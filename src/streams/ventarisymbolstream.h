#pragma once

#include "streams/ventaristream.h"

namespace Ventari {

// The messages about one symbol; the editor shows the host's notation, the stream value is the service's.
class VENTARI_EXPORT VentariSymbolStream : public VentariStream
{
public:
    explicit VentariSymbolStream(const StreamFilters& filters);

    bool needsId() const override;
    QWidget* createIdControl(QWidget* parent, const char* editDoneSlot) override;
    QString controlValue(QWidget* control) const override;
    void setControlValue(QWidget* control, const QString& value) const override;
    bool canFollow() const override;
};

} // namespace Ventari
