#pragma once

namespace norva {

// Where the layout's fonts are missing, the ones nearest in shape and width take their place,
// so that captions fit the controls they were measured for. Installed fonts of the very names
// always win.
void InstallFontSubstitutes();

}  // namespace norva
