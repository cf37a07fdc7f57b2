#include "app/font_substitutes.h"

#include <QFont>
#include <QStringList>

namespace norva {

void InstallFontSubstitutes() {
    // DejaVu Sans Condensed has Tahoma's widths; Liberation Sans and Nimbus Sans have Arial's.
    QFont::insertSubstitution(QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans Condensed"));
    QStringList arial;
    arial << QStringLiteral("Liberation Sans") << QStringLiteral("Nimbus Sans");
    QFont::insertSubstitutions(QStringLiteral("Arial"), arial);
}

}  // namespace norva
