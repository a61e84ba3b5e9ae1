#include "headlessrunner.h"

#include "deskwindow.h"
#include "imagecache.h"
#include "messagelistmodel.h"
#include "streamtab.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtGui/QImage>
#include <QtWidgets/QApplication>

#include <cstdio>

namespace {

const int pollMs = 50;
// Pictures still on their way after this long are drawn with their stand-ins.
const qint64 pictureGraceMs = 2000;
// Without messages by then, the window is written as it is, with what it shows instead.
const qint64 messagesTimeoutMs = 20000;

} // namespace

HeadlessRunner::HeadlessRunner(DeskWindow* window, const QString& screenshotFile, double screenshotAfterSeconds,
                               double quitAfterSeconds, QObject* parent)
    : QObject(parent)
    , m_window(window)
    , m_file(screenshotFile)
    , m_afterMs(qRound64(screenshotAfterSeconds * 1000))
{
    m_clock.start();
    if (!m_file.isEmpty()) {
        connect(&m_poll, &QTimer::timeout, this, &HeadlessRunner::onPoll);
        m_poll.start(pollMs);
    }
    if (quitAfterSeconds > 0)
        QTimer::singleShot(qRound64(quitAfterSeconds * 1000), this, &HeadlessRunner::onQuit);
}

void HeadlessRunner::onPoll()
{
    StreamTab* tab = m_window->currentTab();
    const bool shown = tab && tab->messages()->rowCount() > 0;
    if (shown && m_messagesAt < 0) {
        m_messagesAt = m_clock.elapsed();
        // Painting is what asks for the pictures; a first rendering sets them on their way.
        m_window->grab();
        return;
    }
    if (m_messagesAt >= 0) {
        const qint64 waited = m_clock.elapsed() - m_messagesAt - m_afterMs;
        if (waited >= 0 && (m_window->imageCache()->pendingCount() == 0 || waited > pictureGraceMs))
            writeScreenshot(QStringLiteral("first messages after %1 ms, taken %2 ms later")
                                .arg(m_messagesAt)
                                .arg(m_clock.elapsed() - m_messagesAt));
    } else if (m_clock.elapsed() > messagesTimeoutMs) {
        writeScreenshot(QStringLiteral("no messages within %1 s; the window shows why").arg(messagesTimeoutMs / 1000));
    }
}

void HeadlessRunner::onQuit()
{
    if (!m_file.isEmpty() && !m_written)
        writeScreenshot(QStringLiteral("quitting before the first messages"));
    m_window->close();
    QApplication::quit();
}

void HeadlessRunner::writeScreenshot(const QString& note)
{
    m_poll.stop();
    // One more pass, so that pictures that just arrived are painted.
    QApplication::processEvents();
    const QImage image = m_window->grab().toImage();
    QDir().mkpath(QFileInfo(m_file).absolutePath());
    m_written = image.save(m_file, "PNG");
    if (m_written)
        std::fprintf(stderr, "ventari-desk: wrote %s (%dx%d; %s)\n", qPrintable(QDir::toNativeSeparators(m_file)),
                     image.width(), image.height(), qPrintable(note));
    else
        std::fprintf(stderr, "ventari-desk: could not write the screenshot to %s\n", qPrintable(m_file));
}
