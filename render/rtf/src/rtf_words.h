#pragma once
// The control words of RTF the reader knows: their names, and the
// characters the symbol words and control symbols stand for. Data for the
// parser and for the HTML de-encapsulation. Private to the RTF reader.

#include <string_view>

namespace rtf::detail {

// The control words the parser acts on, by group.
enum class Word {
    Unknown,
    // document
    Ansi,
    Mac,
    Pc,
    Pca,
    AnsiCpg,
    Deff,
    DefTab,
    PaperW,
    PaperH,
    MargL,
    MargR,
    MargT,
    MargB,
    // the same for a section; the first section's are the pages'
    PgWSxn,
    PgHSxn,
    MargLSxn,
    MargRSxn,
    MargTSxn,
    MargBSxn,
    HeaderY,
    FooterY,
    TitlePg,
    // destinations
    FontTable,
    ColorTable,
    Pict,
    Field,
    FieldInstruction,
    FieldResult,
    ChPgn,
    ShpPict,
    NestTableProps,
    SkipDestination,
    Header,
    Footer,
    HeaderFirst,
    FooterFirst,
    HeaderLeft,
    FooterLeft,
    // font table and colour table
    F,
    FCharset,
    Cpg,
    FNil,
    FRoman,
    FSwiss,
    FModern,
    FScript,
    FDecor,
    FTech,
    Red,
    Green,
    Blue,
    // pictures
    PngBlip,
    JpegBlip,
    EmfBlip,
    WMetafile,
    DiBitmap,
    WBitmap,
    OtherBlip,
    PicW,
    PicH,
    PicWGoal,
    PicHGoal,
    PicScaleX,
    PicScaleY,
    // characters
    Plain,
    Lang,
    DefLangFe,
    Fs,
    B,
    I,
    Ul,
    UlNone,
    UlDotted,
    UlDash,
    UlDashDot,
    UlWave,
    Strike,
    Super,
    Sub,
    NoSuperSub,
    Cf,
    Cb,
    Highlight,
    Caps,
    SCaps,
    V,
    Uc,
    U,
    // paragraphs
    Pard,
    Ql,
    Qc,
    Qr,
    Qj,
    Li,
    Ri,
    Fi,
    Sb,
    Sa,
    Sl,
    SlMult,
    Tx,
    Tqr,
    Tqc,
    Tqdec,
    InTbl,
    Itap,
    PageBb,
    CbPat,
    RtlPar,
    LtrPar,
    // breaks and special characters
    Par,
    Line,
    Tab,
    Page,
    Sect,
    SbkNone,
    Cell,
    NestCell,
    Row,
    NestRow,
    EmDash,
    EnDash,
    LQuote,
    RQuote,
    LDblQuote,
    RDblQuote,
    Bullet,
    EmSpace,
    EnSpace,
    QmSpace,
    Zwj,
    Zwnj,
    LtrMark,
    RtlMark,
    // tables
    TRowD,
    CellX,
    ClCbPat,
    ClBrdr,
    TrBrdr,
    BrdrNone,
    BrdrStyle,
    BrdrW,
    BrdrCf,
    ParaBrdr,
    TrLeft,
    TrGapH,
    TrQc,
    TrQr,
    TrQl,
    ClVertAlT,
    ClVertAlC,
    ClVertAlB,
};

// The word a control word's name stands for; Word::Unknown for words the
// reader does not act on (which the format asks readers to ignore).
Word lookup(std::string_view name);

// The character a symbol word (\tab, \emdash, \lquote, ...) stands for; 0
// for other words.
char16_t specialCharacter(Word word);

// The UTF-16 code unit \uN stands for (a negative N counts from 65536, as
// writers of 16-bit parameters put it); 0 for none.
char16_t unicodeCharacter(int parameter);

// The character a control symbol (\~, \-, \_) stands for; 0 for the
// others, which are syntax (\\ \{ \} \*, a paragraph mark) or show nothing.
char16_t controlSymbolCharacter(char symbol);

}  // namespace rtf::detail
