#pragma once

#include "streams/ventaristream.h"

namespace Ventari {

class StreamIdInputModel;

// The messages of one user; the editor offers the names entered before, kept across restarts.
class VENTARI_EXPORT VentariUserStream : public VentariStream
{
public:
    explicit VentariUserStream(const StreamFilters& filters);
    ~VentariUserStream() override;

    bool needsId() const override;
    QWidget* createIdControl(QWidget* parent, const char* editDoneSlot) override;
    QString controlValue(QWidget* control) const override;
    void setControlValue(QWidget* control, const QString& value) const override;
    bool canFollow() const override;

private:
    Q_DISABLE_COPY(VentariUserStream)

    StreamIdInputModel* m_inputModel;
};

} // namespace Ventari
