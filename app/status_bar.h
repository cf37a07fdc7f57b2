#pragma once

#include <QString>
#include <QWidget>

#include <array>

class QLabel;

namespace norva {

// A row of sunken panels with centred texts, each of a fixed width from the left; the last panel
// reaches the right edge whatever its width says.
class StatusBar : public QWidget {
public:
    static constexpr int kPanelCount = 6;

    explicit StatusBar(QWidget* parent);

    void SetPanel(int panel, int width, const QString& text);
    void SetPanelText(int panel, const QString& text);
    QString PanelText(int panel) const;
    int PanelWidth(int panel) const { return widths_.at(panel); }
    QLabel* PanelLabel(int panel) const { return labels_.at(panel); }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void LayOut();

    std::array<QLabel*, kPanelCount> labels_{};
    std::array<int, kPanelCount> widths_{};
};

}  // namespace norva
