#include "ventariwatchliststream.h"

#include "actions/ventariloadwatchlistsaction.h"
#include "common/reports.h"
#include "iauthorization.h"
#include "streams/streamidinputmodel.h"
#include "ventariactionhandler.h"
#include "ventariservices.h"

#include <kelvar/combocontrol.h>

namespace Ventari {

VentariWatchListStream::VentariWatchListStream(const StreamFilters& filters)
    : VentariStream("watchlist", 2, tr("WatchList"), QStringLiteral("watchlist/%1.json"), filters)
    , m_inputModel(new StreamIdInputModel(QByteArray()))
{
    // Built inside the facade's constructor: the facade reaches the locator only afterwards.
    QMetaObject::invokeMethod(this, "init", Qt::QueuedConnection);
}

VentariWatchListStream::~VentariWatchListStream()
{
    delete m_inputModel;
}

bool VentariWatchListStream::needsId() const
{
    return true;
}

QWidget* VentariWatchListStream::createIdControl(QWidget* parent, const char* editDoneSlot)
{
    auto* control = new ComboControl(m_inputModel, parent, false, false);
    control->setFixedWidth(120);
    VR_VERIFY(QObject::connect(control, SIGNAL(editDone(QByteArray)), parent, editDoneSlot));
    updateLists();
    return control;
}

QString VentariWatchListStream::controlValue(QWidget* control) const
{
    auto* combo = qobject_cast<ComboControl*>(control);
    if (!VR_ASSERT(combo) || m_lists.isEmpty())
        return QString();
    const QString name = QString::fromUtf8(combo->value());
    for (const WatchListItem& list : m_lists) {
        if (list.name == name)
            return QString::number(list.id);
    }
    return QString::number(m_lists.first().id);
}

void VentariWatchListStream::setControlValue(QWidget* control, const QString& value) const
{
    auto* combo = qobject_cast<ComboControl*>(control);
    if (!VR_ASSERT(combo))
        return;
    QString name;
    if (!m_lists.isEmpty()) {
        bool isNumber = false;
        const int id = value.toInt(&isNumber);
        name = m_lists.first().name;
        for (const WatchListItem& list : m_lists) {
            if (isNumber && list.id == id) {
                name = list.name;
                break;
            }
        }
    }
    combo->setValue(name.toUtf8());
}

bool VentariWatchListStream::canFollow() const
{
    return false;
}

void VentariWatchListStream::init()
{
    if (IAuthorization* authorization = authorizationState())
        authorization->subscribe("authorizationChanged", this, "updateLists");
}

// Lists stay as they are while nobody is authorized.
void VentariWatchListStream::updateLists()
{
    IAuthorization* authorization = authorizationState();
    if (!authorization || !authorization->isAuthorized())
        return;
    VentariActionHandler* handler = VentariActionHandler::instance();
    if (!handler)
        return;
    auto* action = new VentariLoadWatchListsAction;
    VR_VERIFY(connect(action, SIGNAL(watchListsReceived(const WatchLists&)), this, SLOT(onWatchLists(const WatchLists&))));
    handler->executeAction(action);
}

void VentariWatchListStream::onWatchLists(const WatchLists& lists)
{
    m_lists = lists;
    QList<QByteArray> names;
    names.reserve(lists.size());
    for (const WatchListItem& list : lists)
        names.append(list.name.toUtf8());
    m_inputModel->setItems(names);
}

} // namespace Ventari
