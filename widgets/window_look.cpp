#include "widgets/window_look.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QStringList>
#include <QWidget>

namespace norva {

void InstallFontSubstitutes() {
    // DejaVu Sans Condensed has Tahoma's widths; Liberation Sans and Nimbus Sans have Arial's.
    QFont::insertSubstitution(QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans Condensed"));
    QStringList arial;
    arial << QStringLiteral("Liberation Sans") << QStringLiteral("Nimbus Sans");
    QFont::insertSubstitutions(QStringLiteral("Arial"), arial);
}

QFont TahomaBold() {
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(16);
    font.setBold(true);
    return font;
}

QPushButton* MakePushButton(QWidget* parent, const QString& name, const QString& caption,
                            const QRect& geometry, bool handCursor) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setFont(TahomaBold());
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    button->setDefault(false);
    if (handCursor) button->setCursor(Qt::PointingHandCursor);
    return button;
}

void UseInactiveBorderBackground(QWidget* window) {
    QPalette background = window->palette();
    background.setColor(QPalette::Window, background.color(QPalette::Inactive, QPalette::Window));
    window->setPalette(background);
    window->setAutoFillBackground(true);
}

void CentreOnScreen(QWidget* window) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

}  // namespace norva
