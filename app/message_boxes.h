#pragma once

#include <QString>

class QWidget;

namespace norva {

// The failure text as the error box shows it: a full stop is added unless the text is empty or
// already ends in a character at or below ".".
QString ErrorBoxText(const QString& failure);

// Modal; both return once the operator has pressed OK. Titled with the application title.
void ShowErrorBox(const QString& failure);  // stop icon
void ShowNoticeBox(const QString& text);    // no icon, centred on the screen

// The file dialogs every window uses: Qt's own (the same on every desktop, and what the tests
// drive), modal to parent. Empty when the operator cancels.
QString AskSaveFileName(QWidget* parent, const QString& title, const QString& filter = {});
QString AskOpenFileName(QWidget* parent, const QString& title);

}  // namespace norva
