#pragma once

#include <QPixmap>
#include <QWidget>
#include <memory>
#include <string>

#include "base/result.h"

#include "picture/picture_painter.h"
#include "picture/session_picture.h"
#include "picture/time_window.h"

class QAction;
class QListView;

namespace norva {

class PictureLinesModel;

// The picture drawn at the widget's size. The wheel zooms the timeline around the pointer,
// dragging pans it, a double click fits the whole session, and the tooltip of a mark gives its
// time, its bytes and its log lines.
class PictureCanvas : public QWidget {
    Q_OBJECT

public:
    explicit PictureCanvas(QWidget* parent);

    // Keeps the zoom unless the window showed the whole session, which then stays whole.
    void SetPicture(std::shared_ptr<const picture::SessionPicture> picture);
    const picture::SessionPicture* picture() const { return picture_.get(); }
    const picture::TimeWindow& window() const { return window_; }
    void SetWindow(const picture::TimeWindow& window);
    void FitWholeSession();
    picture::PictureLayout Layout() const { return picture::LayOut(QSizeF(size())); }
    // What the tooltip at a point says; empty away from every mark.
    QString ToolTipAt(QPoint point) const;

signals:
    void WindowChanged();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool InTimeline(QPointF point) const;
    picture::TimeWindow Fit() const;

    std::shared_ptr<const picture::SessionPicture> picture_;
    // All but the timeline, drawn once for each picture and size.
    QPixmap still_;
    picture::TimeWindow window_;
    bool fitted_ = true;
    bool dragging_ = false;
    double dragX_ = 0;
};

// A picture window: the canvas, "Save Picture As…" (PNG or SVG by the name's ending) in its
// menu, on Ctrl+S and in the canvas's context menu, and for a capture file its log lines beside
// the picture.
class SessionPictureWindow : public QWidget {
    Q_OBJECT

public:
    SessionPictureWindow(const QString& title, bool withLogLines, QWidget* parent = nullptr);
    ~SessionPictureWindow() override;

    void SetPicture(std::shared_ptr<const picture::SessionPicture> picture);
    PictureCanvas* canvas() const { return canvas_; }
    QAction* saveAction() const { return save_; }
    QListView* logLines() const { return lines_; }

    // Writes what the canvas shows; a failure carries the text for the error box.
    Outcome SaveTo(const std::string& fileName) const;

signals:
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void AskAndSave();

    PictureCanvas* canvas_;
    QAction* save_;
    QAction* fit_;
    QListView* lines_ = nullptr;
    PictureLinesModel* linesModel_ = nullptr;
};

}  // namespace norva
