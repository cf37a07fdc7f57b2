#include "app/radio_group.h"

#include <QButtonGroup>
#include <QRadioButton>

namespace norva {

RadioGroup::RadioGroup(const QString& caption, const QStringList& items, int columns,
                       QWidget* parent)
    : QGroupBox(caption, parent), buttons_(new QButtonGroup(this)), columns_(columns) {
    for (int i = 0; i < items.size(); ++i)
        buttons_->addButton(new QRadioButton(items[i], this), i);
    LayOut();
}

int RadioGroup::ItemIndex() const {
    return buttons_->checkedId();
}

void RadioGroup::SetItemIndex(int index) {
    if (QAbstractButton* button = buttons_->button(index)) {
        button->setChecked(true);
    } else if (QAbstractButton* checked = buttons_->checkedButton()) {
        // An exclusive group refuses to uncheck its last button.
        buttons_->setExclusive(false);
        checked->setChecked(false);
        buttons_->setExclusive(true);
    }
}

QAbstractButton* RadioGroup::Item(int index) const {
    return buttons_->button(index);
}

int RadioGroup::ItemCount() const {
    return static_cast<int>(buttons_->buttons().size());
}

void RadioGroup::resizeEvent(QResizeEvent* event) {
    QGroupBox::resizeEvent(event);
    LayOut();
}

// Items fill the columns top to bottom, each column an equal share of the inside of the frame,
// each row an equal share of the height below the caption.
void RadioGroup::LayOut() {
    const int count = ItemCount();
    if (count == 0 || columns_ < 1) return;
    const int rows = (count + columns_ - 1) / columns_;
    const QRect inside = contentsRect();
    const int left = 8;
    const int columnWidth = (width() - 2 * left) / columns_;
    const int rowHeight = inside.height() / rows;
    for (int i = 0; i < count; ++i) {
        QAbstractButton* button = buttons_->button(i);
        const int column = i / rows;
        const int row = i % rows;
        const int height = button->sizeHint().height();
        button->setGeometry(left + column * columnWidth,
                            inside.top() + row * rowHeight + (rowHeight - height) / 2, columnWidth,
                            height);
    }
}

}  // namespace norva
