#pragma once

#include "testhost.h"

#include <streams/ventarisymbolstream.h>
#include <ventarimodel.h>

#include <QtCore/QSharedPointer>
#include <QtCore/QStringList>
#include <QtTest/QTest>

// The plugin's model on a test host whose service knows no such symbol: its own first loads fail,
// and failed loads ask for no refresh, so it sends nothing more. Pages handed to the slots its loads
// answer are merged and announced as the service's would be; older pages asked for are only counted.
class PageModel : public Ventari::VentariModel
{
public:
    // Null when its own loads did not fail as expected.
    static QSharedPointer<PageModel> create()
    {
        static Ventari::VentariSymbolStream symbols({Ventari::StreamFilter(QStringLiteral("All"), QString())});
        QSharedPointer<PageModel> model(new PageModel(&symbols));
        QStringList errors;
        QObject context;
        QObject::connect(model.data(), &VentariModel::error, &context, [&errors](const QString& text) { errors << text; });
        const bool failed = QTest::qWaitFor([&errors] { return errors.size() == 2; }, 10000);
        return failed && errors.count(QStringLiteral("Stream not found.")) == 2 ? model : nullptr;
    }

    // "10 20+7 30": messages 10, 20 (liked by user 7) and 30, in any order.
    static Ventari::Messages page(const QString& notation)
    {
        Ventari::Messages messages;
        for (const QString& token : notation.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QStringList parts = token.split(QLatin1Char('+'));
            Ventari::Message message;
            message.id = parts.first().toInt();
            message.body = QStringLiteral("Message %1 about $AAPL").arg(message.id);
            message.createdAt = QDateTime::currentDateTimeUtc();
            message.user.id = 1;
            message.user.username = QStringLiteral("alice");
            message.user.name = QStringLiteral("Alice Archer");
            for (int i = 1; i < parts.size(); ++i)
                message.likes.insert(parts.at(i).toInt());
            messages.append(message);
        }
        return messages;
    }

    // A load's answer, and an older page's.
    void deliver(const QString& notation) { answer("onData", notation); }
    void deliverOlder(const QString& notation) { answer("onOldMessagesActionData", notation); }

    void loadOldMessages() override { ++olderRequests; }
    int olderRequests = 0;

private:
    explicit PageModel(Ventari::IVentariStream* stream)
        : VentariModel(stream, "NOSUCH", 0)
    {
    }
    void answer(const char* slot, const QString& notation)
    {
        QVERIFY(QMetaObject::invokeMethod(this, slot, Q_ARG(Ventari::Messages, page(notation))));
    }
};
