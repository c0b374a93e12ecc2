// The viewer's own pictures, drawn at start-up: the tool buttons' bitmaps and the program icon.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace glance {

// The bitmap of a tool button by its resource number (1201 to 1211): 22 by 30, the Exit
// bitmap (1207) 22 by 22.
QPixmap ToolPicture(int resource);
// The icon "glance".
QIcon GlanceIcon();

}  // namespace glance
