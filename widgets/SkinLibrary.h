// Skin bitmaps and icons by number. The artwork generated at build time is compiled in as
// ":/skin/<number>.png"; a folder of real artwork with the same numbers, named by
// QVREMOTE_SKIN_DIR or a "skin" folder beside the program, is looked in first.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QString>

namespace qv {

// Null when the number has no image. Decoded once and shared; safe from any thread.
QImage SkinImage(int number);
// Window thread only (QPixmap).
QPixmap SkinPixmap(int number);
QIcon SkinIcon(int number);
// Icon 128 with the large program icon beside it, for window and desktop.
QIcon AppIcon();

// The override folder in use, or empty.
QString SkinOverrideDir();
// Forgets decoded images, e.g. after the override folder changed.
void ClearSkinCache();

}  // namespace qv
