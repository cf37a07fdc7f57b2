#pragma once

#include <QRegion>
#include <QScrollBar>

#include <tuple>

namespace norva {

// The log pane's vertical bar, which moves with each line of a short log. It repaints only where
// its slider was and is, and a tall bar is drawn in low bands: Qt's raster engine hands a fill
// of 96 rows or more to worker threads in slices, a dozen thread wake-ups a picture that cost
// more than the drawing itself.
class LogScrollBar : public QScrollBar {
public:
    explicit LogScrollBar(QWidget* parent);

    // The region of the paint under way, the whole bar outside one.
    QRegion PaintRegion() const { return inPaint_ ? paintRegion_ : QRegion(rect()); }

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // Everything the range and the value decide in the picture: where the slider is and
    // which end arrows are live.
    using Appearance = std::tuple<QRect, bool, bool, bool>;

    void ScheduleCatchUp();
    void CatchUp();
    Appearance Look() const;

    QRegion paintRegion_;
    bool inPaint_ = false;
    Appearance shownLook_;  // what the screen shows once the updates asked for are painted
    bool painted_ = false;
    bool checkPending_ = false;
};

}  // namespace norva
