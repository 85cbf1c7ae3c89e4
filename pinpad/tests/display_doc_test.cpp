#include "display_doc.h"

#include <gtest/gtest.h>

#include <string>

namespace VKey {
namespace {

constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

std::string Doc(std::string_view body) {
  return std::string(kDeclaration) + std::string(body);
}

std::string Field(std::string_view name, std::string_view value, std::string_view shown) {
  return "<f name=\"" + std::string(name) + "\" value=\"" + std::string(value) +
         "\" DisplayOnScreen=\"" + std::string(shown) + "\"/>";
}

// Widths that tell the fonts apart: 10 pixels a character, 11 in bold.
const MeasureText kMeasure = [](std::u16string_view text, bool bold) {
  return static_cast<int>(text.size()) * (bold ? 11 : 10);
};

DisplayRows Rows(const std::string& document, std::string_view highlights = {},
                 int* result = nullptr) {
  DisplayRows rows;
  const int r = ReadDisplayDocument(true, document, highlights, &kMeasure, &rows);
  if (result != nullptr) {
    *result = r;
  }
  return rows;
}

struct AcceptCase {
  const char* what;
  std::string document;
  int expected;
};

TEST(DisplayDocument, AcceptsAndRefuses) {
  const std::string deep(5000, 'x');
  std::string nested;
  for (int i = 0; i < 100000; ++i) {
    nested += "<a>";
  }
  const AcceptCase cases[] = {
      {"no declaration", "<T>" + Field("A", "1", "true") + "</T>", 0},
      {"declaration without ?xml", "<?abc?><T/>", 0},
      {"declaration too long", "<?xml " + std::string(200, 'v') + "?><T/>", 0},
      {"no root", Doc(""), 0},
      {"root only", Doc("<T></T>"), 1},
      {"true", Doc("<T>" + Field("A", "1", "true") + "</T>"), 1},
      {"upper case TRUE", Doc("<T>" + Field("A", "1", "TRUE") + "</T>"), 1},
      {"true then other", Doc("<T>" + Field("A", "1", "true") + Field("B", "2", "maybe") + "</T>"),
       0},
      {"other then true", Doc("<T>" + Field("B", "2", "maybe") + Field("A", "1", "true") + "</T>"),
       1},
      {"true then false", Doc("<T>" + Field("A", "1", "true") + Field("B", "2", "False") + "</T>"),
       1},
      {"no DisplayOnScreen", Doc("<T><f name=\"A\" value=\"1\"/></T>"), 1},
      {"unclosed tag at the end", Doc("<T>" + Field("A", "1", "true") + "</T"), 0},
      {"unclosed root", Doc("<T>" + Field("A", "1", "true")), 0},
      {"mismatched end tag", Doc("<T><a></b></T>"), 0},
      {"two roots", Doc("<T/><U/>"), 0},
      {"unquoted attribute", Doc("<T><f DisplayOnScreen=true/></T>"), 0},
      {"unterminated value", Doc("<T><f DisplayOnScreen=\"true/></T>"), 0},
      {"document type refused", Doc("<!DOCTYPE T [<!ENTITY x \"y\">]><T/>"), 0},
      {"comment skipped", Doc("<!-- c --><T>" + Field("A", "1", "true") + "</T>"), 1},
      {"text outside the root", Doc("junk<T/>"), 0},
      {"deeply nested, unclosed", Doc(nested), 0},
      {"huge value", Doc("<T>" + Field("A", deep, "true") + "</T>"), 1},
      {"ends at the first NUL", Doc("<T/>") + std::string(1, '\0') + "<junk", 1},
  };
  for (const AcceptCase& c : cases) {
    EXPECT_EQ(ReadDisplayDocument(true, c.document, {}, nullptr, nullptr), c.expected) << c.what;
    int withRows = -1;
    Rows(c.document, {}, &withRows);
    EXPECT_EQ(withRows, c.expected) << c.what << " (with rows)";
  }
}

TEST(DisplayDocument, ShowsTrueFieldsInOrderWithTheirTexts) {
  int result = 0;
  const DisplayRows rows =
      Rows(Doc("<T>" + Field("Payee", "Li Lei", "True") + Field("Hidden", "x", "false") +
               "<f NAME=\"Amount\" VALUE=\"100.00\" displayonscreen=\"tRuE\"/>" +
               Field("Odd", "y", "perhaps") + "</T>"),
           {}, &result);
  EXPECT_EQ(result, 0);  // the last deciding child is neither word
  ASSERT_EQ(rows.rows.size(), 2u);
  EXPECT_EQ(rows.rows[0].label, u"Payee :");
  EXPECT_EQ(rows.rows[0].value, u"Li Lei");
  EXPECT_EQ(rows.rows[1].label, u"Amount :");
  EXPECT_EQ(rows.rows[1].value, u"100.00");
  // Widths carry one CJK character more than the text.
  EXPECT_EQ(rows.rows[0].labelWidth, 80);
  EXPECT_EQ(rows.largestLabelWidth, 90);
  EXPECT_EQ(rows.largestLabel, u"Amount :");
  EXPECT_EQ(rows.largestValue, u"Li Lei");  // the first of two equally wide
}

TEST(DisplayDocument, DecodesEntitiesAndDoublesOtherAmpersands) {
  struct Case {
    std::u16string in;
    std::u16string out;
  } cases[] = {
      {u"A &amp; B", u"A && B"}, {u"&lt;x&gt;", u"<x>"},        {u"&apos;&quot;", u"'\""},
      {u"R&D", u"R&&D"},         {u"&unknown;", u"&&unknown;"}, {u"&#65;", u"&&#65;"},
      {u"&amp", u"&&amp"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(display_text::DecodeEntities(c.in), c.out);
  }
  const DisplayRows rows = Rows(Doc("<T>" + Field("Payee &amp; Co", "&lt;1&gt;", "true") + "</T>"));
  ASSERT_EQ(rows.rows.size(), 1u);
  EXPECT_EQ(rows.rows[0].label, u"Payee && Co :");
  EXPECT_EQ(rows.rows[0].value, u"<1>");
}

TEST(DisplayDocument, FoldsBlankLines) {
  struct Case {
    std::u16string in;
    std::u16string out;
  } cases[] = {
      {u"a\n\n\nb", u"a\nb"},
      {u"a\r\n\r\n\r\nb", u"a\r\nb"},
      {u"\n\r\nfirst\nsecond", u"first\nsecond"},
      {u"one\r\ntwo", u"one\r\ntwo"},
      {u"end\n\n", u"end\n"},
      {u"lone\rcr", u"lone\rcr"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(display_text::FoldBlankLines(c.in), c.out);
  }
  const DisplayRows rows = Rows(Doc("<T>" + Field("Note", "first\n\n\nsecond", "true") + "</T>"));
  ASSERT_EQ(rows.rows.size(), 1u);
  EXPECT_EQ(rows.rows[0].value, u"first\nsecond");
}

TEST(DisplayDocument, HighlightsFieldsNamedByTheList) {
  EXPECT_EQ(display_text::HighlightKeys(u"Payee:x\r\n\r\nAmount\xFF1A"
                                        u"9:1\nPlain\r"),
            (std::vector<std::u16string>{u"Payee", u"Amount", u"Plain"}));
  const std::string highlights = "Amount:\r\n\xE9\x87\x91\xE9\xA2\x9D\xEF\xBC\x9A\nR&amp;D";
  const DisplayRows rows = Rows(
      Doc("<T>" + Field("Amount", "100", "true") + Field("amount", "100", "true") +
          Field("\xE9\x87\x91\xE9\xA2\x9D", "1", "true") + Field("R&amp;D", "1", "true") + "</T>"),
      highlights);
  ASSERT_EQ(rows.rows.size(), 4u);
  EXPECT_TRUE(rows.rows[0].highlighted);
  EXPECT_FALSE(rows.rows[1].highlighted);  // case-sensitive
  EXPECT_TRUE(rows.rows[2].highlighted);   // full-width colon
  EXPECT_FALSE(rows.rows[3].highlighted);  // the list is not decoded, the name is
  // A highlighted row is measured in bold.
  EXPECT_EQ(rows.rows[0].labelWidth, 11 * 9);
  EXPECT_EQ(rows.rows[1].labelWidth, 10 * 9);
}

TEST(DisplayDocument, ReadsGb18030AndRefusesBadBytes) {
  // "金额" in GB18030.
  const std::string gbDoc = Doc("<T>" + Field("\xBD\xF0\xB6\xEE", "1", "true") + "</T>");
  DisplayRows rows;
  ASSERT_EQ(ReadDisplayDocument(false, gbDoc, {}, &kMeasure, &rows), 1);
  ASSERT_EQ(rows.rows.size(), 1u);
  EXPECT_EQ(rows.rows[0].label, u"\x91D1\x989D :");
  EXPECT_EQ(ReadDisplayDocument(true, gbDoc, {}, &kMeasure, &rows), 0);
  EXPECT_TRUE(rows.rows.empty());
}

}  // namespace
}  // namespace VKey
