#include "link/LinkPictures.h"

#include <QtGlobal>

static void InitLinkPicturesResource() {
    Q_INIT_RESOURCE(link_pictures);
}

namespace orvex {

void InitLinkPictures() {
    InitLinkPicturesResource();
}

} // namespace orvex
