#pragma once

#include <QtCore/QByteArray>
#include <QtCore/QList>
#include <QtCore/QString>

QT_BEGIN_NAMESPACE
class QWidget;
QT_END_NAMESPACE

namespace Ventari {

// One filter a stream offers: the label the user sees and the service's filter word (empty: none).
struct StreamFilter
{
    StreamFilter() = default;
    StreamFilter(const QString& label, const QString& value)
        : label(label)
        , value(value)
    {
    }

    bool operator==(const StreamFilter& other) const { return label == other.label && value == other.value; }
    bool operator!=(const StreamFilter& other) const { return !(*this == other); }

    QString label;
    QString value;
};

using StreamFilters = QList<StreamFilter>;

// A message feed of the service as the host lists it: what it is called, where its endpoint is,
// which filters it offers and, for a feed with a parameter, the editor of that parameter.
class IVentariStream
{
public:
    virtual QByteArray id() const = 0;
    // 1: the token goes with the request when there is one; 2: an authorized user is required.
    virtual int authorizationMode() const = 0;
    virtual QString name() const = 0;
    virtual bool needsId() const = 0;
    // editDoneSlot in SLOT() notation; the parent owns the new editor.
    virtual QWidget* createIdControl(QWidget* parent, const char* editDoneSlot) = 0;
    // Relative to the stream base address; "%1" stands for the parameter value.
    virtual QString jsonPath() const = 0;
    virtual QString controlValue(QWidget* control) const = 0;
    virtual void setControlValue(QWidget* control, const QString& value) const = 0;
    virtual StreamFilters filters() const = 0;
    virtual bool canFollow() const = 0;
    virtual ~IVentariStream() {}
};

} // namespace Ventari
