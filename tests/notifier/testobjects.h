#pragma once

#include "common/notifier/commonabstractnotifier.h"

#include <QtCore/QObject>
#include <QtCore/QStringList>

inline QString describeLink(const Common::Link* link)
{
    return QString::fromLatin1(link->signalSignature + " -> " + link->delegate.method);
}

// A notifier with the framework as a direct base; journals what the framework calls on it.
class Publisher : public QObject, public Common::AbstractNotifier
{
    Q_OBJECT

public:
    explicit Publisher(QStringList* journal) : m_journal(journal) {}

signals:
    void valueChanged(int value);
    void valueChanged(int value, const QString& text);
    void textChanged(const QString& text);
    void ping();

public slots:
    void attached_valueChanged(const Link* link) { *m_journal << "attached " + describeLink(link); }
    void detached_valueChanged(const Link* link) { *m_journal << "detached " + describeLink(link); }
    void detached_ping(const Link* link) { *m_journal << "detached " + describeLink(link); }

protected:
    void onLinkAttached(const Link* link) override { *m_journal << "onLinkAttached " + describeLink(link); }
    void onLinkDetached(const Link* link) override { *m_journal << "onLinkDetached " + describeLink(link); }

private:
    QStringList* m_journal;
};

// An interface of a notifier, shaped like the plugin's own.
class IFeed : public virtual Common::INotifier
{
};

// A notifier that reaches the framework as a virtual base, behind its own interface.
class Feed : public QObject, public IFeed, public virtual Common::AbstractNotifier
{
    Q_OBJECT

public:
    explicit Feed(QStringList* journal) : m_journal(journal) {}

signals:
    void valueChanged(int value);

public slots:
    void detached_valueChanged(const Link* link) { *m_journal << "detached " + describeLink(link); }

protected:
    void onLinkDetached(const Link* link) override { *m_journal << "onLinkDetached " + describeLink(link); }

private:
    QStringList* m_journal;
};

// An observer with named slots, slot_ slots and signals to forward to.
class Listener : public QObject
{
    Q_OBJECT

public:
    explicit Listener(QStringList* journal) : m_journal(journal) {}

signals:
    void relayed(int value);
    void valueChanged(int value);
    void textRelayed(const QString& text);

public slots:
    void onValue(int value) { *m_journal << QStringLiteral("onValue %1").arg(value); }
    void onValue(int value, const QString& text) { *m_journal << QStringLiteral("onValue %1 %2").arg(value).arg(text); }
    void onText(const QString& text) { *m_journal << "onText " + text; }
    void slot_valueChanged(int value) { *m_journal << QStringLiteral("slot_valueChanged %1").arg(value); }
    void slot_ping() { *m_journal << QStringLiteral("slot_ping"); }

private:
    QStringList* m_journal;
};

// A notifier whose x() signal has attached_ slots of every shape.
class OddSlotsPublisher : public QObject, public Common::AbstractNotifier
{
    Q_OBJECT

public:
    QStringList calls;

signals:
    void x();

public slots:
    void attached_x(int) { calls << QStringLiteral("attached_x(int)"); }
    void attached_x() { calls << QStringLiteral("attached_x()"); }
    void attached_x(const Link*) { calls << QStringLiteral("attached_x(const Link*)"); }
};

// Overloads and slot_ candidates in an order that no sorting would give.
class Candidates : public QObject
{
    Q_OBJECT

signals:
    void twice(const QString& text);
    void twice(int value);

public slots:
    void slot_changed(const QString&) {}
    void slot_changed(int, const QString&, int) {}
    void slot_changed(int, const QString&) {}
    void slot_changed(int) {}
    void slot_changed() {}
};
