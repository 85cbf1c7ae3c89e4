#include "display_doc.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "text_encoding.h"

namespace VKey {
namespace {

struct Attribute {
  std::string name;  // lower case
  std::string_view value;
};
using Attributes = std::vector<Attribute>;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsNameEnd(char c) {
  return IsSpace(c) || c == '/' || c == '>';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsSpace(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return out;
}

// A strict single pass over the elements: start tags with double-quoted attributes, end tags
// that match, self-closing tags, comments and processing instructions; no document type, no
// second root. Nesting is counted, not recursed, so depth costs no stack.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  // The attributes of the root's children in document order; nullopt when not well formed.
  std::optional<std::vector<Attributes>> Children() {
    std::vector<Attributes> children;
    std::vector<std::string_view> open;
    bool rootSeen = false;
    size_t pos = 0;
    while (true) {
      const size_t lt = text_.find('<', pos);
      const std::string_view between =
          text_.substr(pos, lt == std::string_view::npos ? std::string_view::npos : lt - pos);
      if (open.empty() && !Trim(between).empty()) {
        return std::nullopt;  // text outside the root
      }
      if (lt == std::string_view::npos) {
        break;
      }
      pos = lt;
      const std::string_view rest = text_.substr(pos);
      if (rest.rfind("<?", 0) == 0 || rest.rfind("<!--", 0) == 0) {
        const std::string_view close = rest[1] == '?' ? "?>" : "-->";
        const size_t end = rest.find(close, 2);
        if (end == std::string_view::npos) {
          return std::nullopt;
        }
        pos += end + close.size();
        continue;
      }
      if (rest.rfind("<!", 0) == 0) {
        return std::nullopt;  // no document types, no entity definitions
      }
      if (rest.rfind("</", 0) == 0) {
        const size_t gt = rest.find('>');
        if (gt == std::string_view::npos || open.empty() ||
            Trim(rest.substr(2, gt - 2)) != open.back()) {
          return std::nullopt;
        }
        open.pop_back();
        pos += gt + 1;
        continue;
      }
      if (open.empty() && rootSeen) {
        return std::nullopt;  // a second root
      }
      Attributes attributes;
      bool selfClosing = false;
      std::string_view name;
      if (!StartTag(&pos, &name, &attributes, &selfClosing)) {
        return std::nullopt;
      }
      rootSeen = true;
      if (open.size() == 1) {
        children.push_back(std::move(attributes));
      }
      if (!selfClosing) {
        open.push_back(name);
      }
    }
    if (!rootSeen || !open.empty()) {
      return std::nullopt;
    }
    return children;
  }

 private:
  bool StartTag(size_t* pos, std::string_view* name, Attributes* attributes, bool* selfClosing) {
    size_t i = *pos + 1;
    const size_t nameStart = i;
    while (i < text_.size() && !IsNameEnd(text_[i])) {
      if (text_[i] == '<' || text_[i] == '"' || text_[i] == '=') {
        return false;
      }
      ++i;
    }
    if (i == nameStart) {
      return false;
    }
    *name = text_.substr(nameStart, i - nameStart);
    while (true) {
      while (i < text_.size() && IsSpace(text_[i])) {
        ++i;
      }
      if (i >= text_.size()) {
        return false;  // the text ends inside the tag
      }
      if (text_[i] == '>') {
        *pos = i + 1;
        return true;
      }
      if (text_.compare(i, 2, "/>") == 0) {
        *selfClosing = true;
        *pos = i + 2;
        return true;
      }
      const size_t attrStart = i;
      while (i < text_.size() && text_[i] != '=' && !IsNameEnd(text_[i])) {
        if (text_[i] == '<' || text_[i] == '"') {
          return false;
        }
        ++i;
      }
      const std::string_view attrName = Trim(text_.substr(attrStart, i - attrStart));
      while (i < text_.size() && IsSpace(text_[i])) {
        ++i;
      }
      if (attrName.empty() || i >= text_.size() || text_[i] != '=') {
        return false;
      }
      ++i;
      while (i < text_.size() && IsSpace(text_[i])) {
        ++i;
      }
      if (i >= text_.size() || text_[i] != '"') {
        return false;
      }
      const size_t valueEnd = text_.find('"', i + 1);
      if (valueEnd == std::string_view::npos) {
        return false;
      }
      const std::string_view value = text_.substr(i + 1, valueEnd - i - 1);
      if (value.find('<') != std::string_view::npos) {
        return false;
      }
      i = valueEnd + 1;
      if (i < text_.size() && !IsSpace(text_[i]) && text_[i] != '>' && text_[i] != '/') {
        return false;
      }
      attributes->push_back({LowerAscii(attrName.substr(0, kMaxAttributeNameChars)), value});
    }
  }

  std::string_view text_;
};

const std::string_view* FindAttribute(const Attributes& attributes, std::string_view lowerName) {
  for (const Attribute& attribute : attributes) {
    if (attribute.name == lowerName) {
      return &attribute.value;
    }
  }
  return nullptr;
}

bool Convert(bool utf8, std::string_view in, std::u16string* out) {
  return utf8 ? koba::text::Utf8ToUtf16(in, out) : koba::text::Gb18030ToUtf16(in, out);
}

// The declaration: the text up to and including the first "?>" names "?xml" and is short.
bool DeclarationAccepted(std::string_view text, size_t* bodyStart) {
  const size_t end = text.find("?>");
  if (end == std::string_view::npos) {
    return false;
  }
  const std::string_view declaration = text.substr(0, end + 2);
  if (declaration.size() > kMaxDeclarationBytes ||
      declaration.find("?xml") == std::string_view::npos) {
    return false;
  }
  *bodyStart = end + 2;
  return true;
}

}  // namespace

namespace display_text {

std::u16string DecodeEntities(std::u16string_view text) {
  static constexpr std::pair<std::u16string_view, std::u16string_view> kEntities[] = {
      {u"&lt;", u"<"}, {u"&gt;", u">"}, {u"&amp;", u"&&"}, {u"&apos;", u"'"}, {u"&quot;", u"\""},
  };
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (text[i] != u'&') {
      out.push_back(text[i++]);
      continue;
    }
    bool decoded = false;
    for (const auto& [entity, replacement] : kEntities) {
      if (text.substr(i, entity.size()) == entity) {
        out.append(replacement);
        i += entity.size();
        decoded = true;
        break;
      }
    }
    if (!decoded) {
      out.append(u"&&");
      ++i;
    }
  }
  return out;
}

std::u16string FoldBlankLines(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  bool afterBreak = true;  // a break at the very start goes too
  for (size_t i = 0; i < text.size();) {
    size_t breakLength = 0;
    if (text[i] == u'\n') {
      breakLength = 1;
    } else if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
      breakLength = 2;
    }
    if (breakLength == 0) {
      out.push_back(text[i++]);
      afterBreak = false;
      continue;
    }
    if (!afterBreak) {
      out.append(text.substr(i, breakLength));
    }
    afterBreak = true;
    i += breakLength;
  }
  return out;
}

std::vector<std::u16string> HighlightKeys(std::u16string_view list) {
  std::vector<std::u16string> keys;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find_first_of(u"\r\n", start);
    if (end == std::u16string_view::npos) {
      end = list.size();
    }
    const std::u16string_view line = list.substr(start, end - start);
    if (!line.empty()) {
      keys.emplace_back(line.substr(0, line.find_first_of(u":\xFF1A")));
    }
    start = end + 1;
  }
  return keys;
}

}  // namespace display_text

int ReadDisplayDocument(bool utf8, std::string_view document, std::string_view highlights,
                        const MeasureText* measure, DisplayRows* rows) {
  if (rows != nullptr) {
    *rows = DisplayRows();
  }
  // The document is text: it ends at its first NUL byte.
  document = document.substr(0, document.find('\0'));
  size_t bodyStart = 0;
  if (!DeclarationAccepted(document, &bodyStart)) {
    return 0;
  }
  const auto children = Reader(document.substr(bodyStart)).Children();
  if (!children) {
    return 0;
  }
  const bool makeRows = measure != nullptr && *measure && rows != nullptr;
  std::vector<std::u16string> keys;
  if (makeRows && !highlights.empty()) {
    std::u16string list;
    if (Convert(utf8, highlights.substr(0, highlights.find('\0')), &list)) {
      keys = display_text::HighlightKeys(list);
    }
  }
  int result = 1;
  DisplayRows built;
  for (const Attributes& child : *children) {
    const std::string_view* shown = FindAttribute(child, "displayonscreen");
    if (shown == nullptr) {
      continue;
    }
    const std::string word = LowerAscii(*shown);
    if (word == "false") {
      continue;
    }
    if (word != "true") {
      result = 0;
      continue;
    }
    result = 1;
    if (!makeRows) {
      continue;
    }
    const std::string_view* name = FindAttribute(child, "name");
    const std::string_view* value = FindAttribute(child, "value");
    std::u16string rawName;
    std::u16string rawValue;
    if (!Convert(utf8, name ? *name : std::string_view(), &rawName) ||
        !Convert(utf8, value ? *value : std::string_view(), &rawValue)) {
      return 0;  // bytes that are no text of the charset
    }
    DisplayRow row;
    const std::u16string decodedName = display_text::DecodeEntities(rawName);
    row.highlighted = std::find(keys.begin(), keys.end(), decodedName) != keys.end();
    row.label = display_text::DecodeEntities(rawName + u" :");
    row.value = display_text::FoldBlankLines(display_text::DecodeEntities(rawValue));
    const int pad = (*measure)(std::u16string_view(&kWidthPadCharacter, 1), row.highlighted);
    row.labelWidth = (*measure)(row.label, row.highlighted) + pad;
    row.valueWidth = (*measure)(row.value, row.highlighted) + pad;
    if (row.labelWidth > built.largestLabelWidth) {
      built.largestLabelWidth = row.labelWidth;
      built.largestLabel = row.label;
    }
    if (row.valueWidth > built.largestValueWidth) {
      built.largestValueWidth = row.valueWidth;
      built.largestValue = row.value;
    }
    built.rows.push_back(std::move(row));
  }
  if (makeRows) {
    *rows = std::move(built);
  }
  return result;
}

}  // namespace VKey
