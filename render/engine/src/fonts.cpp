#include "engine/fonts.h"

#include <fontconfig/fontconfig.h>

#include <rtf/faces.h>

#include <QByteArray>

#include <string_view>

namespace render::engine {

namespace {

// Only the folders of the Debian font packages the renderer depends on
// (scripts/debian-packages.txt): fonts-liberation, fonts-crosextra-carlito
// and -caladea, fonts-dejavu-core and -extra, fonts-noto-core, -mono and
// -cjk, fonts-inconsolata, fonts-wine. Of Wine's folder only Tahoma is
// taken: its bitmap fonts and symbol faces are no stand-ins for anything.
// The system cache holds these folders' caches (Debian builds them when a
// font package is installed); Wine's folder, which no system configuration
// lists, is cached in the user's cache folder on first use.
constexpr std::string_view kConfigHead = R"(<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <dir>/usr/share/fonts/truetype/liberation</dir>
  <dir>/usr/share/fonts/truetype/crosextra</dir>
  <dir>/usr/share/fonts/truetype/dejavu</dir>
  <dir>/usr/share/fonts/truetype/noto</dir>
  <dir>/usr/share/fonts/opentype/noto</dir>
  <dir>/usr/share/fonts/truetype/inconsolata</dir>
  <dir>/usr/share/wine/fonts</dir>
  <cachedir>/var/cache/fontconfig</cachedir>
  <cachedir prefix="xdg">fontconfig</cachedir>
  <config><rescan><int>0</int></rescan></config>
  <selectfont>
    <rejectfont><glob>/usr/share/wine/fonts/*</glob></rejectfont>
    <acceptfont><glob>/usr/share/wine/fonts/tahoma*.ttf</glob></acceptfont>
    <rejectfont><pattern><patelt name="scalable"><bool>false</bool></patelt></pattern></rejectfont>
  </selectfont>
  <match target="font">
    <edit name="antialias" mode="assign"><bool>true</bool></edit>
    <edit name="hinting" mode="assign"><bool>true</bool></edit>
    <edit name="hintstyle" mode="assign"><const>hintslight</const></edit>
    <edit name="rgba" mode="assign"><const>none</const></edit>
    <edit name="lcdfilter" mode="assign"><const>lcddefault</const></edit>
    <edit name="embeddedbitmap" mode="assign"><bool>false</bool></edit>
  </match>
  <match target="pattern">
    <test qual="all" name="family" compare="not_eq"><string>sans-serif</string></test>
    <test qual="all" name="family" compare="not_eq"><string>serif</string></test>
    <test qual="all" name="family" compare="not_eq"><string>monospace</string></test>
    <edit name="family" mode="append_last"><string>sans-serif</string></edit>
  </match>
)";

// The generic families as Windows browsers and Word resolve them, then the
// faces that cover the scripts the first ones lack.
constexpr std::string_view kConfigTail = R"(
  <alias binding="same"><family>sans-serif</family><prefer>
    <family>Liberation Sans</family><family>DejaVu Sans</family><family>Noto Sans</family>
    <family>Noto Sans CJK JP</family><family>Noto Sans Symbols</family><family>Noto Sans Symbols2</family>
  </prefer></alias>
  <alias binding="same"><family>serif</family><prefer>
    <family>Liberation Serif</family><family>DejaVu Serif</family><family>Noto Serif</family>
    <family>Noto Serif CJK JP</family><family>Noto Sans Symbols</family><family>Noto Sans Symbols2</family>
  </prefer></alias>
  <alias binding="same"><family>monospace</family><prefer>
    <family>Liberation Mono</family><family>DejaVu Sans Mono</family><family>Noto Sans Mono</family>
    <family>Noto Sans Mono CJK JP</family>
  </prefer></alias>
</fontconfig>
)";

QByteArray configuration() {
    QByteArray xml(kConfigHead.data(), static_cast<qsizetype>(kConfigHead.size()));
    for (const rtf::FaceSubstitute& s : rtf::faceSubstitutes()) {
        // binding="same": the stand-in binds as strongly as the face named,
        // so it wins over faces that merely cover the text's language.
        xml += "  <alias binding=\"same\"><family>";
        xml.append(s.face.data(), static_cast<qsizetype>(s.face.size()));
        xml += "</family><accept><family>";
        xml.append(s.standIn.data(), static_cast<qsizetype>(s.standIn.size()));
        xml += "</family></accept></alias>\n";
    }
    xml.append(kConfigTail.data(), static_cast<qsizetype>(kConfigTail.size()));
    return xml;
}

bool g_installed = false;

}  // namespace

bool useRendererFonts() {
    if (g_installed) {
        return true;
    }
    FcConfig* config = FcConfigCreate();
    if (config == nullptr) {
        return false;
    }
    const QByteArray xml = configuration();
    const bool built =
        FcConfigParseAndLoadFromMemory(config, reinterpret_cast<const FcChar8*>(xml.constData()),
                                       FcTrue) == FcTrue &&
        FcConfigBuildFonts(config) == FcTrue && FcConfigSetCurrent(config) == FcTrue;
    // The current configuration holds its own reference.
    FcConfigDestroy(config);
    g_installed = built;
    return built;
}

bool rendererFontsInUse() {
    return g_installed;
}

QString fontFileFor(const QString& family) {
    const QByteArray name = family.toUtf8();
    FcPattern* pattern = FcPatternCreate();
    if (pattern == nullptr) {
        return {};
    }
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(name.constData()));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    QString file;
    FcChar8* path = nullptr;
    if (match != nullptr && FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch) {
        file = QString::fromUtf8(reinterpret_cast<const char*>(path));
    }
    if (match != nullptr) {
        FcPatternDestroy(match);
    }
    return file;
}

}  // namespace render::engine
