#include "chartviewer.h"

#include "addressopener.h"
#include "addresspolicy.h"
#include "desktheme.h"
#include "imagecache.h"
#include "messagelayout.h"
#include "safetext.h"

#include <cmath>

#include <QtGui/QKeyEvent>
#include <QtGui/QPixmap>
#include <QtGui/QScreen>
#include <QtGui/QWheelEvent>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QScrollArea>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QToolButton>
#include <QtWidgets/QVBoxLayout>

namespace {

const qreal zoomStep = 1.25;
const qreal smallestZoom = 0.05;
const qreal largestZoom = 8;

} // namespace


ChartViewer::ChartViewer(ImageCache* images, AddressOpener* opener, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_images(images)
    , m_opener(opener)
    , m_caption(new QLabel(this))
    , m_status(new QLabel(this))
    , m_canvas(new QLabel)
    , m_area(new QScrollArea(this))
    , m_zoomLabel(new QLabel(this))
    , m_browser(new QPushButton(QStringLiteral("Open in browser"), this))
{
    setObjectName(QStringLiteral("ChartViewer"));
    setWindowTitle(QStringLiteral("Chart"));
    resize(900, 640);
    setMinimumSize(360, 260);

    m_caption->setTextFormat(Qt::PlainText);
    m_caption->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setTextFormat(Qt::PlainText);
    m_status->setAlignment(Qt::AlignCenter);
    m_status->setWordWrap(true);
    m_status->setStyleSheet(QStringLiteral("color: %1;").arg(DeskTheme::current().dim.name()));
    m_canvas->setAlignment(Qt::AlignCenter);
    m_area->setWidget(m_canvas);
    m_area->setAlignment(Qt::AlignCenter);
    m_area->setFrameShape(QFrame::NoFrame);
    m_area->setWidgetResizable(false);
    m_area->viewport()->installEventFilter(this);
    m_zoomLabel->setMinimumWidth(m_zoomLabel->fontMetrics().horizontalAdvance(QStringLiteral("8888 %")));
    m_zoomLabel->setAlignment(Qt::AlignCenter);

    auto tool = [this](const QString& text, const QString& tip, void (ChartViewer::*slot)()) {
        auto* button = new QToolButton(this);
        button->setText(text);
        button->setToolTip(tip);
        button->setAutoRaise(true);
        connect(button, &QToolButton::clicked, this, slot);
        return button;
    };
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(10, 6, 10, 6);
    bar->addWidget(m_caption, 1);
    bar->addWidget(tool(QStringLiteral("−"), QStringLiteral("Zoom out (−)"), &ChartViewer::zoomOut));
    bar->addWidget(m_zoomLabel);
    bar->addWidget(tool(QStringLiteral("+"), QStringLiteral("Zoom in (+)"), &ChartViewer::zoomIn));
    bar->addWidget(tool(QStringLiteral("Fit"), QStringLiteral("Fit the window (0)"), &ChartViewer::fitToWindow));
    bar->addWidget(tool(QStringLiteral("1:1"), QStringLiteral("Actual size (1)"), &ChartViewer::actualSize));
    bar->addSpacing(8);
    m_browser->setObjectName(QStringLiteral("openInBrowser"));
    connect(m_browser, &QPushButton::clicked, this, &ChartViewer::openInBrowser);
    bar->addWidget(m_browser);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(bar);
    layout->addWidget(m_status);
    layout->addWidget(m_area, 1);

    if (m_images)
        connect(m_images, &ImageCache::imageReady, this, &ChartViewer::onImageReady);
}

ChartViewer::~ChartViewer() = default;

void ChartViewer::showChart(const Ventari::Message& message)
{
    m_url = MessageLayout::chartUrl(message);
    m_picture = QImage();
    m_fit = true;
    const QString author = SafeText::handle(QLatin1Char('@'), message.user.username);
    setWindowTitle(QStringLiteral("Chart from %1").arg(author));
    m_caption->setText(QStringLiteral("%1: %2").arg(author, SafeText::plain(message.body).simplified()));
    m_caption->setToolTip(SafeText::plain(message.body).left(2000));
    m_browser->setToolTip(QStringLiteral("Open %1 in your web browser").arg(AddressPolicy::displayText(m_url)));
    loadPicture();
}

QString ChartViewer::statusText() const
{
    return m_status->isHidden() ? QString() : m_status->text();
}

void ChartViewer::zoomIn()
{
    setZoom(m_zoom * zoomStep, m_area->viewport()->rect().center());
}

void ChartViewer::zoomOut()
{
    setZoom(m_zoom / zoomStep, m_area->viewport()->rect().center());
}

void ChartViewer::fitToWindow()
{
    m_fit = true;
    showPicture();
}

void ChartViewer::actualSize()
{
    setZoom(1, m_area->viewport()->rect().center());
}

// The opener says in the desk's status bar why an address went nowhere; the viewer says it too,
// since it is what the user looks at.
void ChartViewer::openInBrowser()
{
    const QString problem = m_opener->open(m_url);
    if (!problem.isEmpty()) {
        m_status->setText(problem);
        m_status->show();
    }
}

void ChartViewer::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoomIn();
        break;
    case Qt::Key_Minus:
        zoomOut();
        break;
    case Qt::Key_0:
        fitToWindow();
        break;
    case Qt::Key_1:
        actualSize();
        break;
    case Qt::Key_Escape:
        close();
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

// The wheel zooms about the point under the mouse; the scroll bars and arrow keys move.
bool ChartViewer::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_area->viewport() && event->type() == QEvent::Wheel && !m_picture.isNull()) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        const int steps = wheel->angleDelta().y() / 120;
        if (steps != 0)
            setZoom(m_zoom * std::pow(zoomStep, steps), wheel->position().toPoint());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void ChartViewer::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_fit)
        showPicture();
}

void ChartViewer::onImageReady(const QUrl& url)
{
    if (url == m_url && m_picture.isNull())
        loadPicture();
}

QSize ChartViewer::largest() const
{
    // Twice the screen: room to zoom in on a picture, and a drawing stays sharp to 200 %.
    const QScreen* shown = screen();
    const QSize room = shown ? shown->availableSize() * shown->devicePixelRatio() * 2 : QSize(2048, 2048);
    return room.boundedTo(QSize(4096, 4096));
}

void ChartViewer::loadPicture()
{
    m_picture = m_images ? m_images->image(m_url, largest()) : QImage();
    QString status;
    if (m_picture.isNull()) {
        const QString refusal = AddressPolicy::refusal(m_url, AddressPolicy::Use::Load);
        const QString cached = m_images ? m_images->refusal(m_url) : QString();
        if (!refusal.isEmpty() || !cached.isEmpty())
            status = QStringLiteral("The chart is not shown: %1.").arg(refusal.isEmpty() ? cached : refusal);
        else if (m_images && m_images->hasFailed(m_url))
            status = QStringLiteral("The chart could not be loaded. The desk tries again in a while.");
        else
            status = QStringLiteral("Loading the chart…");
    }
    m_status->setText(status);
    m_status->setVisible(!status.isEmpty());
    showPicture();
}

void ChartViewer::setZoom(qreal zoom, const QPoint& anchor)
{
    if (m_picture.isNull())
        return;
    zoom = qBound(smallestZoom, zoom, largestZoom);
    // The picture's point under the anchor stays under it.
    QScrollBar* h = m_area->horizontalScrollBar();
    QScrollBar* v = m_area->verticalScrollBar();
    const QPointF onPicture = QPointF(anchor - m_canvas->pos()) / m_zoom;
    m_fit = false;
    m_zoom = zoom;
    showPicture();
    const QPointF after = onPicture * m_zoom - QPointF(anchor);
    h->setValue(qRound(after.x()));
    v->setValue(qRound(after.y()));
}

void ChartViewer::showPicture()
{
    if (m_picture.isNull()) {
        m_canvas->clear();
        m_canvas->resize(0, 0);
        m_zoomLabel->clear();
        return;
    }
    if (m_fit)
        m_zoom = fitZoom();
    const QSize size = (QSizeF(m_picture.size()) * m_zoom).toSize().expandedTo(QSize(1, 1));
    const QImage shown = size == m_picture.size()
        ? m_picture
        : m_picture.scaled(size, Qt::IgnoreAspectRatio, m_zoom < 1 ? Qt::SmoothTransformation : Qt::FastTransformation);
    m_canvas->setPixmap(QPixmap::fromImage(shown));
    m_canvas->resize(size);
    m_zoomLabel->setText(QStringLiteral("%1 %").arg(qRound(m_zoom * 100)));
}

// Fit never blows a small picture up: pixels would only blur.
qreal ChartViewer::fitZoom() const
{
    const QSize room = m_area->maximumViewportSize();
    if (m_picture.isNull() || room.isEmpty())
        return 1;
    return qMin<qreal>(1, qMin(qreal(room.width()) / m_picture.width(), qreal(room.height()) / m_picture.height()));
}
