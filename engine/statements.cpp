#include "engine/statements.h"

#include <cctype>
#include <cstddef>

namespace plinthos::engine {

namespace {

bool wordChar(char c) {
  auto u = static_cast<unsigned char>(c);
  return u >= 0x80 || std::isalnum(u) || c == '_' || c == '$';
}

// End of the quoted run opened at `i`; a doubled quote stays inside, and so does a
// backslash-escaped one when `backslash`. An unterminated run reaches the end.
std::size_t quotedEnd(std::string_view s, std::size_t i, bool backslash) {
  char quote = s[i];
  for (std::size_t j = i + 1; j < s.size(); ++j) {
    if (backslash && s[j] == '\\') {
      ++j;
    } else if (s[j] == quote) {
      if (j + 1 >= s.size() || s[j + 1] != quote) return j + 1;
      ++j;
    }
  }
  return s.size();
}

std::size_t blockCommentEnd(std::string_view s, std::size_t i) {
  int depth = 0;
  for (std::size_t j = i; j + 1 < s.size(); ++j) {
    if (s.compare(j, 2, "/*") == 0) {
      ++depth;
      ++j;
    } else if (s.compare(j, 2, "*/") == 0) {
      ++j;
      if (--depth == 0) return j + 1;
    }
  }
  return s.size();
}

// The dollar quote's tag ("$$" or "$name$") opening at `i`, or empty.
std::string_view dollarTag(std::string_view s, std::size_t i) {
  std::size_t j = i + 1;
  if (j < s.size() && (std::isalpha(static_cast<unsigned char>(s[j])) || s[j] == '_')) {
    while (j < s.size() && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '_')) ++j;
  }
  if (j < s.size() && s[j] == '$') return s.substr(i, j + 1 - i);
  return {};
}

}  // namespace

std::vector<std::string_view> splitStatements(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  bool hasCode = false;
  std::size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (s.compare(i, 2, "--") == 0) {
      std::size_t nl = s.find('\n', i);
      i = nl == std::string_view::npos ? s.size() : nl + 1;
    } else if (s.compare(i, 2, "/*") == 0) {
      i = blockCommentEnd(s, i);
    } else if (c == ';') {
      if (hasCode) out.push_back(s.substr(start, i - start));
      start = ++i;
      hasCode = false;
    } else {
      hasCode = true;
      std::string_view tag = c == '$' ? dollarTag(s, i) : std::string_view{};
      if (!tag.empty()) {
        std::size_t close = s.find(tag, i + tag.size());
        i = close == std::string_view::npos ? s.size() : close + tag.size();
      } else if (c == '\'' || c == '"') {
        i = quotedEnd(s, i, false);
      } else if (wordChar(c)) {
        std::size_t from = i;
        while (i < s.size() && wordChar(s[i])) ++i;
        if (i - from == 1 && (s[from] == 'E' || s[from] == 'e') && i < s.size() && s[i] == '\'') {
          i = quotedEnd(s, i, true);
        }
      } else {
        ++i;
      }
    }
  }
  if (hasCode) out.push_back(s.substr(start));
  return out;
}

}  // namespace plinthos::engine
