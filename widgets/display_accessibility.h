#pragma once

#include <QLabel>

namespace norva {

// A label whose text is a state, such as the link indicator: assistive technology reads its
// accessible name, and its text as the value and the description.
class StateLabel : public QLabel {
    Q_OBJECT

public:
    explicit StateLabel(QWidget* parent = nullptr);

    // Sets the text and tells assistive technology that the value changed.
    void SetState(const QString& text);
};

// Lets assistive technology read the digit displays and state labels: their accessible name,
// and their value as text and, for a digit display, as a number. Safe to call more than once.
void InstallDisplayAccessibility();

}  // namespace norva
