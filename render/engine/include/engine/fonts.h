#pragma once
// The renderer's own font configuration: which font files exist for the
// layout, and which face stands in for each face mail is written in (the
// table of rtf/faces.h, as fontconfig aliases). Loaded
// instead of the machine's fontconfig defaults, so that a page breaks the
// same way whatever else is installed (fonts under /usr/local/share/fonts
// or ~/.fonts, local.conf, FONTCONFIG_FILE are not seen).

#include <QString>

namespace render::engine {

// Makes the renderer's configuration fontconfig's current one. Must run
// before Qt's font database first initialises (before the QGuiApplication
// of the process is created, or at least before its first font is used);
// later, Qt keeps the fonts it already listed. Returns false, changing
// nothing, when the configuration cannot be built. Idempotent.
bool useRendererFonts();

// Whether useRendererFonts() has installed the configuration.
bool rendererFontsInUse();

// The file fontconfig's current configuration picks for a family name
// (the face a layout gets when it asks for that family); empty when none.
QString fontFileFor(const QString& family);

}  // namespace render::engine
