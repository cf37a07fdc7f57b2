#pragma once

#include <QObject>
#include <QTimer>

namespace norva {

// After a while without keyboard or mouse input the text caret stops blinking and stays shown,
// as desktops do for their own programs; the next key or click starts it again. A bench left
// with the caret in the port box would otherwise wake and repaint twice a second for days.
class CaretRest : public QObject {
public:
    static constexpr int kDefaultRestMs = 10'000;

    explicit CaretRest(QObject* parent, int restMs = kDefaultRestMs);
    ~CaretRest() override;

    bool resting() const { return resting_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Rest();
    void Wake();

    QTimer rest_;
    int flashTime_;  // the desktop's own, given back on input
    bool resting_ = false;
};

}  // namespace norva
