#include "ventarifollowunfollowaction.h"

#include "remotesettings.h"

namespace Ventari {

VentariFollowUnfollowAction::VentariFollowUnfollowAction(int kind, bool unfollow, int subjectId)
    : VentariAbstractAction(RequiresUser, Post, 0)
    , m_kind(kind)
    , m_unfollow(unfollow)
    , m_subjectId(subjectId)
{
}

QUrl VentariFollowUnfollowAction::url()
{
    const QString pattern = remoteSetting(m_kind == User ? "friendshipsUrl" : "stockshipsUrl").toString();
    return QUrl(pattern.arg(m_unfollow ? QStringLiteral("destroy") : QStringLiteral("create")).arg(m_subjectId));
}

} // namespace Ventari
