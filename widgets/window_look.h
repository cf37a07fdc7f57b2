#pragma once

#include <QFont>
#include <QRect>
#include <QString>

class QPushButton;
class QWidget;

namespace norva {

// The look the two windows and the message boxes share.

// Where the layout's fonts are missing, the ones nearest in shape and width take their place,
// so that captions fit the controls they were measured for. Installed fonts of the very names
// always win.
void InstallFontSubstitutes();

// "Tahoma", bold, 16-pixel characters (its substitute where it is missing).
QFont TahomaBold();

// A push button captioned in Tahoma bold that never takes Enter as a default button.
QPushButton* MakePushButton(QWidget* parent, const QString& name, const QString& caption,
                            const QRect& geometry, bool handCursor);

// The background of a window: the system colour of an inactive window border. Qt has none;
// an inactive window's background is the nearest.
void UseInactiveBorderBackground(QWidget* window);

// Moves a shown window so that its frame is centred on the primary screen's free area.
void CentreOnScreen(QWidget* window);

}  // namespace norva
