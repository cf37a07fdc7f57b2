#pragma once

#include <QGroupBox>
#include <QStringList>

class QAbstractButton;
class QButtonGroup;

namespace norva {

// A framed set of mutually exclusive options in columns, read and set by index (-1: none).
class RadioGroup : public QGroupBox {
public:
    RadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent);

    int ItemIndex() const;
    void SetItemIndex(int index);
    QAbstractButton* Item(int index) const;
    int ItemCount() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void LayOut();

    QButtonGroup* buttons_;
    int columns_;
};

}  // namespace norva
