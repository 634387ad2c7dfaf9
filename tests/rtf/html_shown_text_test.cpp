// The words of mail HTML that a browser shows, and only those, come out of
// the reader, each class of markup where Qt's own HTML reader differs.
#include "test_util.h"

#include <QRegularExpression>
#include <QTextTable>

#include <gtest/gtest.h>

namespace {

using rtftest::allText;

QString shownText(const QString& html) {
    auto r = rtf::readHtml(html);
    // Pictures leave nothing.
    return allText(*r.document).remove(QChar::ObjectReplacementCharacter);
}

// Words of the document, each block's words joined by blanks.
QStringList wordsOf(const QString& html) {
    return shownText(html).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}

TEST(HtmlShownText, ElementsHiddenByDisplayNoneLeaveNothing) {
    // A newsletter's preview line ran into the greeting ("Your weekly newsHello").
    EXPECT_EQ(wordsOf(QStringLiteral("<span style=\"display:none\">Your weekly news</span>Hello "
                                     "Ann")),
              (QStringList{QStringLiteral("Hello"), QStringLiteral("Ann")}));
    // Hidden by a class of the style sheet, nested elements of the same name.
    EXPECT_EQ(wordsOf(QStringLiteral("<style>.pre{display:none}</style><p>A<span class=pre>x<span>y"
                                     "</span>z</span> B</p>")),
              (QStringList{QStringLiteral("A"), QStringLiteral("B")}));
    EXPECT_EQ(wordsOf(QStringLiteral("<p>A<span style='color:red; DISPLAY: none'>x</span>B</p>")),
              (QStringList{QStringLiteral("AB")}));
    // Without its end tag the element stays; shown elements are untouched.
    EXPECT_EQ(wordsOf(QStringLiteral("<p>keep <span style=\"display:none\">open")),
              (QStringList{QStringLiteral("keep"), QStringLiteral("open")}));
    EXPECT_EQ(wordsOf(QStringLiteral("<p style=\"display:block\">shown</p>")),
              (QStringList{QStringLiteral("shown")}));
}

TEST(HtmlShownText, NamedCharactersWithoutSemicolonAreReadAsABrowserReadsThem) {
    EXPECT_EQ(wordsOf(QStringLiteral("<p>&copy 2024 Smith &amp Co, caf&eacute, &notit, &AMP;, "
                                     "&foo, &amp;amp</p>")),
              (QStringList{QStringLiteral(u"©"), QStringLiteral("2024"), QStringLiteral("Smith"),
                           QStringLiteral("&"), QStringLiteral("Co,"), QStringLiteral(u"café,"),
                           QStringLiteral(u"¬it,"), QStringLiteral("&,"), QStringLiteral("&foo,"),
                           QStringLiteral("&amp")}));
    // The longest name counts, and text right after it stays.
    EXPECT_EQ(wordsOf(QStringLiteral("<p>&copyright &frac12x</p>")),
              (QStringList{QStringLiteral(u"©right"), QStringLiteral(u"½x")}));
    // Style sheets and attributes are not text.
    const QString text = shownText(QStringLiteral(
        "<style>p{font-family:\"a&copy\"}</style><p><a href=\"?a=1&copy=2\">link</a></p>"));
    EXPECT_FALSE(text.contains(u'©')) << text.toStdString();
}

TEST(HtmlShownText, ADropDownListShowsTheOptionItShows) {
    EXPECT_EQ(
        wordsOf(QStringLiteral("<p>Size<select name=s><option>Small<option "
                               "selected>Large</option></select>now</p>")),
        (QStringList{QStringLiteral("Size"), QStringLiteral("Large"), QStringLiteral("now")}));
    EXPECT_EQ(wordsOf(QStringLiteral("<p>Pick<select><option value=1><b>One</b></option><option>"
                                     "Two</select>.</p>")),
              (QStringList{QStringLiteral("Pick"), QStringLiteral("One"), QStringLiteral(".")}));
}

TEST(HtmlShownText, FormsAndHeadingsEndTheirBlocksAsInABrowser) {
    // A form is a block: two forms' words stay apart.
    EXPECT_EQ(wordsOf(QStringLiteral("<form action=x>one</form><form action=y>two</form>")),
              (QStringList{QStringLiteral("one"), QStringLiteral("two")}));
    // "</h1>" ends an <h3>: the paragraph after it is no part of the heading.
    auto r = rtf::readHtml(QStringLiteral("<h3>Title</h1><p>Body</p>"));
    const QString text = allText(*r.document);
    EXPECT_TRUE(text.contains(QStringLiteral("Title\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("\nBody"))) << text.toStdString();
}

TEST(HtmlShownText, EmptyColumnsBesideFullWidthOnesGoWithoutLosingSpanningCells) {
    // A cell spanning rows and the columns that go: Qt narrowed it once per
    // row, and the cells after it were lost ("y") or the layout crashed.
    EXPECT_EQ(wordsOf(QStringLiteral("<table width=100%><tr><td width=\"100%\">x<td colspan=3 "
                                     "rowspan=2><tr><td>y</table>")),
              (QStringList{QStringLiteral("x"), QStringLiteral("y")}));
    EXPECT_EQ(wordsOf(QStringLiteral("<table><tr><td width=536>a<td colspan=3 rowspan=3><tr><td "
                                     "colspan=2>c<td width=390>d</table>")),
              (QStringList{QStringLiteral("a"), QStringLiteral("c"), QStringLiteral("d")}));
    // An empty column beside a full-width one still goes.
    auto r = rtf::readHtml(
        QStringLiteral("<table width=100%><tr><td> </td><td width=100%>wide</td></tr></table>"));
    QTextTable* table = nullptr;
    for (QTextFrame* frame : r.document->rootFrame()->childFrames()) {
        table = table != nullptr ? table : qobject_cast<QTextTable*>(frame);
    }
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->columns(), 1);
}

}  // namespace
