#pragma once
// The link lamp's two pictures (a computer beside a meter, screens lit for
// CONok and dark for CONokN), as SVG resources ":/link/CONok.svg" and
// ":/link/CONokN.svg".

#include <QString>

namespace orvex {

// Registers the resources of the static library; call once before use.
void InitLinkPictures();

inline QString CONokPicturePath() {
    return QStringLiteral(":/link/CONok.svg");
}
inline QString CONokNPicturePath() {
    return QStringLiteral(":/link/CONokN.svg");
}

} // namespace orvex
