#pragma once

#include <ventaritypes.h>

#include <QtCore/QPointer>
#include <QtCore/QUrl>
#include <QtGui/QImage>
#include <QtWidgets/QWidget>

class AddressOpener;
class ImageCache;
class QLabel;
class QPushButton;
class QScrollArea;

// A message's chart at full size in a window of the desk: loaded through the desk's picture
// cache under its address policy, zoomed with the wheel, the keys + - 0 1 or the buttons, and
// handed to the web browser on request.
class ChartViewer : public QWidget
{
    Q_OBJECT

public:
    ChartViewer(ImageCache* images, AddressOpener* opener, QWidget* parent = nullptr);
    ~ChartViewer() override;

    // Shows the chart of message; the picture comes in when the cache has it.
    void showChart(const Ventari::Message& message);
    QUrl chartUrl() const { return m_url; }
    // The picture as loaded; null while it comes or when it cannot be shown.
    QImage picture() const { return m_picture; }
    // 1 is the picture's own size.
    qreal zoom() const { return m_zoom; }
    bool fitsWindow() const { return m_fit; }
    // What stands in for the picture: loading, a refusal, a failure; empty once it is shown.
    QString statusText() const;


public slots:
    void zoomIn();
    void zoomOut();
    void fitToWindow();
    void actualSize();
    void openInBrowser();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void onImageReady(const QUrl& url);

private:
    void loadPicture();
    void setZoom(qreal zoom, const QPoint& anchor);
    void showPicture();
    qreal fitZoom() const;
    // The largest picture the viewer asks the cache for; larger ones are shrunk to it.
    QSize largest() const;

    QPointer<ImageCache> m_images;
    AddressOpener* m_opener;
    QUrl m_url;
    QImage m_picture;
    qreal m_zoom = 1;
    bool m_fit = true;
    QLabel* m_caption;
    QLabel* m_status;
    QLabel* m_canvas;
    QScrollArea* m_area;
    QLabel* m_zoomLabel;
    QPushButton* m_browser;
};
