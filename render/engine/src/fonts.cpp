#include "engine/fonts.h"

#include <fontconfig/fontconfig.h>

#include <QByteArray>
#include <QHash>

#include <array>
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

// A face mail names, and the face that takes its place: its metric twin
// where Debian has one, otherwise the face closest in average advance width
// (docs/formats/rendering.md has the measurements). Fixed-pitch CJK faces
// (half-width Latin) go to Noto's fixed-pitch CJK faces, the others to the
// sans or serif faces of their region.
struct Substitute {
    std::string_view face;
    std::string_view twin;
};
constexpr std::array kSubstitutes = {
    // Metric twins.
    Substitute{"Calibri", "Carlito"}, Substitute{"Calibri Light", "Carlito"},
    Substitute{"Cambria", "Caladea"}, Substitute{"Arial", "Liberation Sans"},
    Substitute{"Helvetica", "Liberation Sans"},
    Substitute{"Arial Narrow", "Liberation Sans Narrow"},
    Substitute{"Times New Roman", "Liberation Serif"}, Substitute{"Times", "Liberation Serif"},
    Substitute{"Courier New", "Liberation Mono"}, Substitute{"Courier", "Liberation Mono"},
    Substitute{"Tahoma", "Tahoma"},
    // Closest widths.
    Substitute{"Verdana", "DejaVu Sans"}, Substitute{"Segoe UI", "Liberation Sans"},
    Substitute{"Aptos", "Liberation Sans"}, Substitute{"Georgia", "DejaVu Serif Condensed"},
    Substitute{"Consolas", "Inconsolata"},
    // Japanese.
    Substitute{"MS Gothic", "Noto Sans Mono CJK JP"},
    Substitute{"\xEF\xBC\xAD\xEF\xBC\xB3 \xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF",
               "Noto Sans Mono CJK JP"},  // MS Gothic, in Japanese
    Substitute{"MS Mincho", "Noto Sans Mono CJK JP"},
    Substitute{"\xEF\xBC\xAD\xEF\xBC\xB3 \xE6\x98\x8E\xE6\x9C\x9D",
               "Noto Sans Mono CJK JP"},  // MS Mincho
    Substitute{"MS PGothic", "Noto Sans CJK JP"},
    Substitute{
        "\xEF\xBC\xAD\xEF\xBC\xB3 \xEF\xBC\xB0\xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF",
        "Noto Sans CJK JP"},  // MS PGothic
    Substitute{"MS UI Gothic", "Noto Sans CJK JP"}, Substitute{"Meiryo", "Noto Sans CJK JP"},
    Substitute{"Meiryo UI", "Noto Sans CJK JP"},
    Substitute{"\xE3\x83\xA1\xE3\x82\xA4\xE3\x83\xAA\xE3\x82\xAA", "Noto Sans CJK JP"},  // Meiryo
    Substitute{"Yu Gothic", "Noto Sans CJK JP"}, Substitute{"Yu Gothic UI", "Noto Sans CJK JP"},
    Substitute{"\xE6\xB8\xB8\xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF",
               "Noto Sans CJK JP"},  // Yu Gothic
    Substitute{"MS PMincho", "Noto Serif CJK JP"},
    Substitute{"\xEF\xBC\xAD\xEF\xBC\xB3 \xEF\xBC\xB0\xE6\x98\x8E\xE6\x9C\x9D",
               "Noto Serif CJK JP"},  // MS PMincho
    Substitute{"Yu Mincho", "Noto Serif CJK JP"},
    Substitute{"\xE6\xB8\xB8\xE6\x98\x8E\xE6\x9C\x9D", "Noto Serif CJK JP"},  // Yu Mincho
    // Simplified Chinese.
    Substitute{"SimSun", "Noto Sans Mono CJK SC"},
    Substitute{"\xE5\xAE\x8B\xE4\xBD\x93", "Noto Sans Mono CJK SC"},  // SimSun
    Substitute{"NSimSun", "Noto Sans Mono CJK SC"},
    Substitute{"\xE6\x96\xB0\xE5\xAE\x8B\xE4\xBD\x93", "Noto Sans Mono CJK SC"},  // NSimSun
    Substitute{"Microsoft YaHei", "Noto Sans CJK SC"},
    Substitute{"Microsoft YaHei UI", "Noto Sans CJK SC"},
    Substitute{"\xE5\xBE\xAE\xE8\xBD\xAF\xE9\x9B\x85\xE9\xBB\x91",
               "Noto Sans CJK SC"},  // Microsoft YaHei
    Substitute{"SimHei", "Noto Sans CJK SC"},
    Substitute{"\xE9\xBB\x91\xE4\xBD\x93", "Noto Sans CJK SC"},  // SimHei
    Substitute{"DengXian", "Noto Sans CJK SC"},
    Substitute{"\xE7\xAD\x89\xE7\xBA\xBF", "Noto Sans CJK SC"},  // DengXian
    Substitute{"KaiTi", "Noto Serif CJK SC"},
    Substitute{"\xE6\xA5\xB7\xE4\xBD\x93", "Noto Serif CJK SC"},  // KaiTi
    Substitute{"FangSong", "Noto Serif CJK SC"},
    Substitute{"\xE4\xBB\xBF\xE5\xAE\x8B", "Noto Serif CJK SC"},  // FangSong
    // Traditional Chinese.
    Substitute{"MingLiU", "Noto Sans Mono CJK TC"},
    Substitute{"\xE7\xB4\xB0\xE6\x98\x8E\xE9\xAB\x94", "Noto Sans Mono CJK TC"},  // MingLiU
    Substitute{"PMingLiU", "Noto Serif CJK TC"},
    Substitute{"\xE6\x96\xB0\xE7\xB4\xB0\xE6\x98\x8E\xE9\xAB\x94",
               "Noto Serif CJK TC"},  // PMingLiU
    Substitute{"Microsoft JhengHei", "Noto Sans CJK TC"},
    Substitute{"Microsoft JhengHei UI", "Noto Sans CJK TC"},
    Substitute{"\xE5\xBE\xAE\xE8\xBB\x9F\xE6\xAD\xA3\xE9\xBB\x91\xE9\xAB\x94",
               "Noto Sans CJK TC"},  // Microsoft JhengHei
    Substitute{"DFKai-SB", "Noto Serif CJK TC"},
    Substitute{"\xE6\xA8\x99\xE6\xA5\xB7\xE9\xAB\x94", "Noto Serif CJK TC"},  // DFKai-SB
    // Korean.
    Substitute{"Malgun Gothic", "Noto Sans CJK KR"},
    Substitute{"\xEB\xA7\x91\xEC\x9D\x80 \xEA\xB3\xA0\xEB\x94\x95",
               "Noto Sans CJK KR"},  // Malgun Gothic
    Substitute{"Gulim", "Noto Sans CJK KR"},
    Substitute{"\xEA\xB5\xB4\xEB\xA6\xBC", "Noto Sans CJK KR"},  // Gulim
    Substitute{"Dotum", "Noto Sans CJK KR"},
    Substitute{"\xEB\x8F\x8B\xEC\x9B\x80", "Noto Sans CJK KR"},  // Dotum
    Substitute{"GulimChe", "Noto Sans Mono CJK KR"},
    Substitute{"DotumChe", "Noto Sans Mono CJK KR"},
    Substitute{"BatangChe", "Noto Sans Mono CJK KR"},
    Substitute{"GungsuhChe", "Noto Sans Mono CJK KR"}, Substitute{"Batang", "Noto Serif CJK KR"},
    Substitute{"\xEB\xB0\x94\xED\x83\x95", "Noto Serif CJK KR"},  // Batang
    Substitute{"Gungsuh", "Noto Serif CJK KR"},
    Substitute{"\xEA\xB6\x81\xEC\x84\x9C", "Noto Serif CJK KR"},  // Gungsuh
};

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
    for (const Substitute& s : kSubstitutes) {
        // binding="same": the stand-in binds as strongly as the face named,
        // so it wins over faces that merely cover the text's language.
        xml += "  <alias binding=\"same\"><family>";
        xml.append(s.face.data(), static_cast<qsizetype>(s.face.size()));
        xml += "</family><accept><family>";
        xml.append(s.twin.data(), static_cast<qsizetype>(s.twin.size()));
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

QString standInFor(const QString& face) {
    static const QHash<QString, QString> kByFace = [] {
        QHash<QString, QString> byFace;
        for (const Substitute& s : kSubstitutes) {
            byFace.insert(QString::fromUtf8(s.face.data(), static_cast<qsizetype>(s.face.size()))
                              .toCaseFolded(),
                          QString::fromUtf8(s.twin.data(), static_cast<qsizetype>(s.twin.size())));
        }
        return byFace;
    }();
    return kByFace.value(face.trimmed().toCaseFolded());
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
