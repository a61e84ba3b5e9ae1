#pragma once

#include "streams/ventaristream.h"
#include "ventaritypes.h"

#include <QtCore/QObject>

namespace Ventari {

class StreamIdInputModel;

// The messages of one of the authorized user's watch lists; the editor offers the lists by name,
// the stream value is the list's id. The lists are reloaded on every change of authorization.
class VENTARI_EXPORT VentariWatchListStream : public QObject, public VentariStream
{
    Q_OBJECT

public:
    explicit VentariWatchListStream(const StreamFilters& filters);
    ~VentariWatchListStream() override;

    bool needsId() const override;
    QWidget* createIdControl(QWidget* parent, const char* editDoneSlot) override;
    QString controlValue(QWidget* control) const override;
    void setControlValue(QWidget* control, const QString& value) const override;
    bool canFollow() const override;

    WatchLists lists() const { return m_lists; }

private slots:
    void init();
    void updateLists();
    void onWatchLists(const WatchLists& lists);

private:
    StreamIdInputModel* m_inputModel;
    WatchLists m_lists;
};

} // namespace Ventari
