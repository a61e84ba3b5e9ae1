#pragma once

#include <QtCore/QObject>
#include <QtCore/QUrl>

#include <functional>

// Hands the addresses a user clicks in messages (links, charts, videos) to the web browser once
// the address policy lets them through, and says what it refused or could not hand over.
class AddressOpener : public QObject
{
    Q_OBJECT

public:
    // Takes an address and says whether it went anywhere.
    using HandOver = std::function<bool(const QUrl&)>;

    explicit AddressOpener(QObject* parent = nullptr);
    ~AddressOpener() override;

    // Who gets the addresses that pass; the desktop's opener until replaced (tests record them).
    void setHandOver(const HandOver& handOver);
    // Empty when the address passed the policy and was taken; else the problem, also signalled.
    QString open(const QUrl& url);

signals:
    // A sentence for the status bar about an address refused or not taken.
    void problem(const QString& text);

private:
    HandOver m_handOver;
};
