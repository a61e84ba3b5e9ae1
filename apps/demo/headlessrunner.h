#pragma once

#include <QtCore/QElapsedTimer>
#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtCore/QTimer>

class DeskWindow;

// Runs the desk without anyone watching: writes a PNG of the window once the first messages are
// on screen, or a given time after that (and their pictures are in, or a short grace period has
// passed), and quits after a given time.
class HeadlessRunner : public QObject
{
    Q_OBJECT

public:
    HeadlessRunner(DeskWindow* window, const QString& screenshotFile, double screenshotAfterSeconds,
                   double quitAfterSeconds, QObject* parent = nullptr);

    bool screenshotWritten() const { return m_written; }

private slots:
    void onPoll();
    void onQuit();

private:
    void writeScreenshot(const QString& note);

    DeskWindow* m_window;
    QString m_file;
    qint64 m_afterMs;
    QTimer m_poll;
    QElapsedTimer m_clock;
    qint64 m_messagesAt = -1; // when the first messages were shown
    bool m_written = false;
};
