#pragma once

#include "common/notifier/commonabstractnotifier.h"

#include <QtCore/QObject>
#include <QtCore/QStringList>

// Writes what the framework made happen into a journal that outlives the test objects.
class Journal
{
public:
    explicit Journal(QStringList* lines)
        : m_lines(lines)
    {
    }
    void write(const QString& line) const { m_lines->append(line); }

private:
    QStringList* m_lines;
};

// A notifier with the framework as its first non-QObject base; records attach and detach calls.
class Publisher : public QObject, public Common::AbstractNotifier
{
    Q_OBJECT

public:
    explicit Publisher(QStringList* journal)
        : m_journal(journal)
    {
    }

signals:
    void valueChanged(int value);
    void valueChanged(int value, const QString& text);
    void textChanged(const QString& text);
    void ping();

public slots:
    void attached_valueChanged(const Link* link) { m_journal.write("attached " + describe(link)); }
    void detached_valueChanged(const Link* link) { m_journal.write("detached " + describe(link)); }
    void detached_ping(const Link* link) { m_journal.write("detached " + describe(link)); }

protected:
    void onLinkAttached(const Link* link) override { m_journal.write("onLinkAttached " + describe(link)); }
    void onLinkDetached(const Link* link) override { m_journal.write("onLinkDetached " + describe(link)); }

private:
    static QString describe(const Link* link)
    {
        return QString::fromLatin1(link->signalSignature + " -> " + link->delegate.method);
    }

    Journal m_journal;
};

// An interface of a notifier, in the shape the plugin's notifier interfaces have.
class IFeed : public virtual Common::INotifier
{
public:
    virtual int lastValue() const = 0;
};

// A notifier that reaches the framework as a virtual base, behind its own interface.
class Feed : public QObject, public IFeed, public virtual Common::AbstractNotifier
{
    Q_OBJECT

public:
    explicit Feed(QStringList* journal)
        : m_journal(journal)
    {
    }
    int lastValue() const override { return m_lastValue; }

signals:
    void valueChanged(int value);

public slots:
    void detached_valueChanged(const Link* link)
    {
        m_journal.write(QString::fromLatin1("detached " + link->signalSignature + " -> " + link->delegate.method));
    }

private:
    Journal m_journal;
    int m_lastValue = 0;
};

// An observer with named slots, slot_ slots and signals to forward to.
class Listener : public QObject
{
    Q_OBJECT

public:
    explicit Listener(QStringList* journal)
        : m_journal(journal)
    {
    }

signals:
    void relayed(int value);
    void valueChanged(int value);
    void textRelayed(const QString& text);

public slots:
    void onValue(int value) { m_journal.write(QStringLiteral("onValue %1").arg(value)); }
    void onValue(int value, const QString& text) { m_journal.write(QStringLiteral("onValue %1 %2").arg(value).arg(text)); }
    void onText(const QString& text) { m_journal.write("onText " + text); }
    void slot_valueChanged(int value) { m_journal.write(QStringLiteral("slot_valueChanged %1").arg(value)); }
    void slot_ping() { m_journal.write(QStringLiteral("slot_ping")); }

private:
    Journal m_journal;
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

// Overloads of one signal, for subscribe(observer).
class OverloadPublisher : public QObject, public Common::AbstractNotifier
{
    Q_OBJECT

signals:
    void a(int value);
    void a(int value, const QString& text);
};

// One slot_ slot that fits both overloads of a.
class OverloadListener : public QObject
{
    Q_OBJECT

public:
    QList<int> values;

public slots:
    void slot_a(int value) { values << value; }
};

// Derives from the framework without being a QObject: a misuse the framework reports.
class NotAQObjectNotifier : public Common::AbstractNotifier
{
};

// Signals to look up by name and to match slot_ slots against.
class ChangeSource : public QObject
{
    Q_OBJECT

signals:
    void changed(int value, const QString& text);
    void twice(const QString& text);
    void twice(int value);
};

// Each of these has one candidate slot for ChangeSource::changed(int,QString).
class SlotNoArguments : public QObject
{
    Q_OBJECT
public slots:
    void slot_changed() {}
};

class SlotInt : public QObject
{
    Q_OBJECT
public slots:
    void slot_changed(int) {}
};

class SlotIntText : public QObject
{
    Q_OBJECT
public slots:
    void slot_changed(int, const QString&) {}
};

class SlotText : public QObject
{
    Q_OBJECT
public slots:
    void slot_changed(const QString&) {}
};

class SlotTooMany : public QObject
{
    Q_OBJECT
public slots:
    void slot_changed(int, const QString&, int) {}
};

// Candidates in an order where the first two do not fit.
class SlotsInOrder : public QObject
{
    Q_OBJECT
public slots:
    void slot_changed(const QString&) {}
    void slot_changed(int, const QString&, int) {}
    void slot_changed(int) {}
    void slot_changed() {}
    void slot_changed(int, const QString&) {}
};
