// The signing display's document: a small XML document whose root's children are the fields of
// the transaction the key is asked to sign, and the rules that turn them into display rows
// (which fields show, entity decoding, bold fields, blank-line folding). Windows-free; the
// dialog measures the texts through a callback.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace VKey {

// One shown field. Texts are ready for a control that takes '&' as a prefix character: every
// literal ampersand stands doubled.
struct DisplayRow {
  bool highlighted = false;
  std::u16string label;  // the field's name followed by " :"
  int labelWidth = 0;
  std::u16string value;
  int valueWidth = 0;
};

struct DisplayRows {
  std::vector<DisplayRow> rows;
  int largestLabelWidth = 0;
  std::u16string largestLabel;
  int largestValueWidth = 0;
  std::u16string largestValue;
};

// The width in pixels of a text in the normal or the bold font.
using MeasureText = std::function<int(std::u16string_view text, bool bold)>;

// The longest declaration accepted, "?>" included.
constexpr size_t kMaxDeclarationBytes = 198;
// Attribute names are cut to this many characters.
constexpr size_t kMaxAttributeNameChars = 499;
// Width of the CJK character added to every measured text.
constexpr char16_t kWidthPadCharacter = u'\x4E2D';

// Reads the document (UTF-8 when utf8, else GB18030) and returns 1 when it is acceptable, 0
// otherwise. With measure and rows given, the shown fields become rows; fields whose name is a
// key of the highlight list (same charset) are highlighted. A document that is not well formed
// gives 0 and no rows.
int ReadDisplayDocument(bool utf8, std::string_view document, std::string_view highlights,
                        const MeasureText* measure, DisplayRows* rows);

// The rules on their own, for the reader and its tests.
namespace display_text {
// The five entities of the display; every other ampersand is doubled.
std::u16string DecodeEntities(std::u16string_view text);
// Removes line breaks (LF or CR LF) at the start and every one that directly follows another.
std::u16string FoldBlankLines(std::u16string_view text);
// The keys of a highlight list: the text of each non-empty line before its first ':' or
// full-width colon.
std::vector<std::u16string> HighlightKeys(std::u16string_view list);
}  // namespace display_text

}  // namespace VKey
