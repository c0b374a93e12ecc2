// The backdrop's picture, drawn by code in the 64 greys of the installers' palette: a row of
// rising bars under a stopwatch, the large form for screens wider than 800 pixels.
#pragma once

#include <QImage>

QImage BackdropPicture(bool large);
