#include <rtf/faces.h>

#include <QHash>

#include <array>

namespace rtf {

namespace {

constexpr std::array kSubstitutes = {
    // Metric twins.
    FaceSubstitute{"Calibri", "Carlito", true}, FaceSubstitute{"Calibri Light", "Carlito", true},
    FaceSubstitute{"Cambria", "Caladea", true}, FaceSubstitute{"Arial", "Liberation Sans", true},
    FaceSubstitute{"Helvetica", "Liberation Sans", true},
    FaceSubstitute{"Arial Narrow", "Liberation Sans Narrow", true},
    FaceSubstitute{"Times New Roman", "Liberation Serif", true},
    FaceSubstitute{"Times", "Liberation Serif", true},
    FaceSubstitute{"Courier New", "Liberation Mono", true},
    FaceSubstitute{"Courier", "Liberation Mono", true}, FaceSubstitute{"Tahoma", "Tahoma", true},
    // Closest widths.
    FaceSubstitute{"Verdana", "DejaVu Sans"}, FaceSubstitute{"Segoe UI", "Liberation Sans"},
    FaceSubstitute{"Aptos", "Liberation Sans"}, FaceSubstitute{"Georgia", "DejaVu Serif Condensed"},
    FaceSubstitute{"Consolas", "Inconsolata"},
    // Japanese.
    FaceSubstitute{"MS Gothic", "Noto Sans Mono CJK JP"},
    FaceSubstitute{"\xEF\xBC\xAD\xEF\xBC\xB3 \xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF",
                   "Noto Sans Mono CJK JP"},  // MS Gothic, in Japanese
    FaceSubstitute{"MS Mincho", "Noto Sans Mono CJK JP"},
    FaceSubstitute{"\xEF\xBC\xAD\xEF\xBC\xB3 \xE6\x98\x8E\xE6\x9C\x9D",
                   "Noto Sans Mono CJK JP"},  // MS Mincho
    FaceSubstitute{"MS PGothic", "Noto Sans CJK JP"},
    FaceSubstitute{
        "\xEF\xBC\xAD\xEF\xBC\xB3 \xEF\xBC\xB0\xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF",
        "Noto Sans CJK JP"},  // MS PGothic
    FaceSubstitute{"MS UI Gothic", "Noto Sans CJK JP"},
    FaceSubstitute{"Meiryo", "Noto Sans CJK JP"}, FaceSubstitute{"Meiryo UI", "Noto Sans CJK JP"},
    FaceSubstitute{"\xE3\x83\xA1\xE3\x82\xA4\xE3\x83\xAA\xE3\x82\xAA",
                   "Noto Sans CJK JP"},  // Meiryo
    FaceSubstitute{"Yu Gothic", "Noto Sans CJK JP"},
    FaceSubstitute{"Yu Gothic UI", "Noto Sans CJK JP"},
    FaceSubstitute{"\xE6\xB8\xB8\xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF",
                   "Noto Sans CJK JP"},  // Yu Gothic
    FaceSubstitute{"MS PMincho", "Noto Serif CJK JP"},
    FaceSubstitute{"\xEF\xBC\xAD\xEF\xBC\xB3 \xEF\xBC\xB0\xE6\x98\x8E\xE6\x9C\x9D",
                   "Noto Serif CJK JP"},  // MS PMincho
    FaceSubstitute{"Yu Mincho", "Noto Serif CJK JP"},
    FaceSubstitute{"\xE6\xB8\xB8\xE6\x98\x8E\xE6\x9C\x9D", "Noto Serif CJK JP"},  // Yu Mincho
    // Simplified Chinese.
    FaceSubstitute{"SimSun", "Noto Sans Mono CJK SC"},
    FaceSubstitute{"\xE5\xAE\x8B\xE4\xBD\x93", "Noto Sans Mono CJK SC"},  // SimSun
    FaceSubstitute{"NSimSun", "Noto Sans Mono CJK SC"},
    FaceSubstitute{"\xE6\x96\xB0\xE5\xAE\x8B\xE4\xBD\x93", "Noto Sans Mono CJK SC"},  // NSimSun
    FaceSubstitute{"Microsoft YaHei", "Noto Sans CJK SC"},
    FaceSubstitute{"Microsoft YaHei UI", "Noto Sans CJK SC"},
    FaceSubstitute{"\xE5\xBE\xAE\xE8\xBD\xAF\xE9\x9B\x85\xE9\xBB\x91",
                   "Noto Sans CJK SC"},  // Microsoft YaHei
    FaceSubstitute{"SimHei", "Noto Sans CJK SC"},
    FaceSubstitute{"\xE9\xBB\x91\xE4\xBD\x93", "Noto Sans CJK SC"},  // SimHei
    FaceSubstitute{"DengXian", "Noto Sans CJK SC"},
    FaceSubstitute{"\xE7\xAD\x89\xE7\xBA\xBF", "Noto Sans CJK SC"},  // DengXian
    FaceSubstitute{"KaiTi", "Noto Serif CJK SC"},
    FaceSubstitute{"\xE6\xA5\xB7\xE4\xBD\x93", "Noto Serif CJK SC"},  // KaiTi
    FaceSubstitute{"FangSong", "Noto Serif CJK SC"},
    FaceSubstitute{"\xE4\xBB\xBF\xE5\xAE\x8B", "Noto Serif CJK SC"},  // FangSong
    // Traditional Chinese.
    FaceSubstitute{"MingLiU", "Noto Sans Mono CJK TC"},
    FaceSubstitute{"\xE7\xB4\xB0\xE6\x98\x8E\xE9\xAB\x94", "Noto Sans Mono CJK TC"},  // MingLiU
    FaceSubstitute{"PMingLiU", "Noto Serif CJK TC"},
    FaceSubstitute{"\xE6\x96\xB0\xE7\xB4\xB0\xE6\x98\x8E\xE9\xAB\x94",
                   "Noto Serif CJK TC"},  // PMingLiU
    FaceSubstitute{"Microsoft JhengHei", "Noto Sans CJK TC"},
    FaceSubstitute{"Microsoft JhengHei UI", "Noto Sans CJK TC"},
    FaceSubstitute{"\xE5\xBE\xAE\xE8\xBB\x9F\xE6\xAD\xA3\xE9\xBB\x91\xE9\xAB\x94",
                   "Noto Sans CJK TC"},  // Microsoft JhengHei
    FaceSubstitute{"DFKai-SB", "Noto Serif CJK TC"},
    FaceSubstitute{"\xE6\xA8\x99\xE6\xA5\xB7\xE9\xAB\x94", "Noto Serif CJK TC"},  // DFKai-SB
    // Korean.
    FaceSubstitute{"Malgun Gothic", "Noto Sans CJK KR"},
    FaceSubstitute{"\xEB\xA7\x91\xEC\x9D\x80 \xEA\xB3\xA0\xEB\x94\x95",
                   "Noto Sans CJK KR"},  // Malgun Gothic
    FaceSubstitute{"Gulim", "Noto Sans CJK KR"},
    FaceSubstitute{"\xEA\xB5\xB4\xEB\xA6\xBC", "Noto Sans CJK KR"},  // Gulim
    FaceSubstitute{"Dotum", "Noto Sans CJK KR"},
    FaceSubstitute{"\xEB\x8F\x8B\xEC\x9B\x80", "Noto Sans CJK KR"},  // Dotum
    FaceSubstitute{"GulimChe", "Noto Sans Mono CJK KR"},
    FaceSubstitute{"DotumChe", "Noto Sans Mono CJK KR"},
    FaceSubstitute{"BatangChe", "Noto Sans Mono CJK KR"},
    FaceSubstitute{"GungsuhChe", "Noto Sans Mono CJK KR"},
    FaceSubstitute{"Batang", "Noto Serif CJK KR"},
    FaceSubstitute{"\xEB\xB0\x94\xED\x83\x95", "Noto Serif CJK KR"},  // Batang
    FaceSubstitute{"Gungsuh", "Noto Serif CJK KR"},
    FaceSubstitute{"\xEA\xB6\x81\xEC\x84\x9C", "Noto Serif CJK KR"},  // Gungsuh
};

// The table by face, case-folded.
const QHash<QString, const FaceSubstitute*>& byFace() {
    static const QHash<QString, const FaceSubstitute*> kByFace = [] {
        QHash<QString, const FaceSubstitute*> faces;
        for (const FaceSubstitute& s : kSubstitutes) {
            faces.insert(QString::fromUtf8(s.face.data(), static_cast<qsizetype>(s.face.size()))
                             .toCaseFolded(),
                         &s);
        }
        return faces;
    }();
    return kByFace;
}

const FaceSubstitute* find(const QString& face) {
    return byFace().value(face.trimmed().toCaseFolded(), nullptr);
}

QString standInOf(const FaceSubstitute& s) {
    return QString::fromUtf8(s.standIn.data(), static_cast<qsizetype>(s.standIn.size()));
}

}  // namespace

std::span<const FaceSubstitute> faceSubstitutes() {
    return kSubstitutes;
}

QString standInFace(const QString& face) {
    const FaceSubstitute* s = find(face);
    return s != nullptr ? standInOf(*s) : QString();
}

QString metricTwinFace(const QString& face) {
    const FaceSubstitute* s = find(face);
    return s != nullptr && s->metricTwin ? standInOf(*s) : QString();
}

QString cjkFace(CjkRegion region) {
    switch (region) {
        case CjkRegion::SimplifiedChinese:
            return QStringLiteral("Noto Sans CJK SC");
        case CjkRegion::TraditionalChinese:
            return QStringLiteral("Noto Sans CJK TC");
        case CjkRegion::Korea:
            return QStringLiteral("Noto Sans CJK KR");
        case CjkRegion::Japan:
        case CjkRegion::Unknown:
            break;
    }
    return QStringLiteral("Noto Sans CJK JP");
}

bool isCjkFace(const QString& family) {
    return family.contains(QLatin1String(" CJK "));
}

}  // namespace rtf
