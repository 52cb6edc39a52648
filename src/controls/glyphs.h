// The small pictures on the program's buttons, drawn from its own stock icons.
#pragma once

#include <QIcon>

#include "demo/project_icons.h"

namespace tarnwick {

enum class GlyphMark { None, Plus, Cross };

// A 16 x 16 stock picture with a green plus or a red cross in its lower right.
QIcon Glyph(StockIcon picture, GlyphMark mark);

}  // namespace tarnwick
