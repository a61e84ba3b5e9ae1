#pragma once

#include "ventariabstractaction.h"

namespace Ventari {

// Follows or unfollows a user (kind 1) or a symbol (any other kind).
class VENTARI_EXPORT VentariFollowUnfollowAction : public VentariAbstractAction
{
    Q_OBJECT

public:
    enum Kind { Symbol = 0, User = 1 };

    VentariFollowUnfollowAction(int kind, bool unfollow, int subjectId);

    QUrl url() override;
    bool isUnfollow() const { return m_unfollow; }

private:
    int m_kind;
    bool m_unfollow;
    int m_subjectId;
};

} // namespace Ventari
