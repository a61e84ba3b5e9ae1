#pragma once

#include <QtCore/QObject>

// The notifier framework: subscriptions by names, the link registry and observer lifetimes,
// and what it stands on: method signatures, meta-object info and the critical section.
class tst_Notifier : public QObject
{
    Q_OBJECT

private slots:
    // tst_notifier.cpp
    void subscribeByNamesDelivers();
    void repeatedSubscriptionMakesOneLink_data();
    void repeatedSubscriptionMakesOneLink();
    void failedRequestsAreReported_data();
    void failedRequestsAreReported();
    void overloadsResolveInMethodOrder();
    void isSubscribedForms();
    void unsubscribeForms();
    void unsubscribeObserverVisitsLinksInOrder();
    void forwardSignalToSignal_data();
    void forwardSignalToSignal();
    void observerDeletedFirst_data();
    void observerDeletedFirst();
    void notifierDeletedFirst_data();
    void notifierDeletedFirst();
    void destroyHelperFollowsLinks();
    void subscribeObserverBySlotConvention();
    void subscribeObserverWithoutSlotsLogs();
    void attachedSlotsOfWrongShapeAreReported();
    void linkPointerIsAMetaType();
    void linkOrder_data();
    void linkOrder();
    void linkOrErrorReports();
    void linksByKeyEraseReports();
    void destroyHelperReports();
    void castToFollowsTheObject();
    void notifierThatIsNoQObjectIsReported();

    // tst_methodinfo.cpp
    void parseSignatures_data();
    void parseSignatures();
    void parseReports_data();
    void parseReports();
    void methodInfoCopiesButDoesNotAssign();
    void decoratedSignatures();
    void macroStrings_data();
    void macroStrings();
    void findSignalAndSlot_data();
    void findSignalAndSlot();
    void findSlotForSignal_data();
    void findSlotForSignal();
    void metaObjectInfoLists();
    void registryGivesOneInfoPerClass();
    void metaObjectInfoAssignsOnlyOnce();

    // tst_criticalsection.cpp
    void criticalSectionIsReentrant();
    void criticalSectionExcludesOtherThreads();
    void movedFromCriticalSectionReports();
};
