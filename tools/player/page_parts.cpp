// The page's template filled in: the player's files, the facts of the run, and holes for what
// only the page's writer knows.
#include "player/page_parts.h"

#include <cstdio>
#include <utility>

#include "common/markup.h"
#include "player_assets.h"

namespace companion {

namespace {

// Where a live page's nonces go: never text of the page, only a place to cut it.
constexpr const char* NONCE_MARK = "@NONCE@";

// The code points of UTF-8 text; a byte that starts no valid sequence stands for U+FFFD, so that
// a title in another encoding still shows, if wrongly, rather than breaking the page.
std::vector<char32_t> codePoints(const std::string& text) {
  std::vector<char32_t> out;
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  for (std::size_t k = 0; k < text.size();) {
    const unsigned char b = byte(k);
    const std::size_t length = b < 0x80       ? 1
                               : b >> 5 == 6  ? 2
                               : b >> 4 == 14 ? 3
                               : b >> 3 == 30 ? 4
                                              : 0;
    char32_t c = length == 1 ? b : length == 0 ? 0 : b & (0x7f >> length);
    bool valid = length > 0 && k + length <= text.size();
    for (std::size_t j = 1; valid && j < length; ++j) {
      valid = (byte(k + j) & 0xc0) == 0x80;
      c = c << 6 | (byte(k + j) & 0x3f);
    }
    // Neither an overlong form, nor a surrogate, nor beyond Unicode.
    constexpr char32_t SMALLEST[] = {0, 0, 0x80, 0x800, 0x10000};
    valid = valid && c >= SMALLEST[length] && c <= 0x10ffff && !(c >= 0xd800 && c <= 0xdfff);
    out.push_back(valid ? c : 0xfffd);
    k += valid ? length : 1;
  }
  return out;
}

// Text as it stands in the page's markup: the page is windows-1252, so everything beyond ASCII
// is a character reference, as are &, <, > and ".
std::string markupText(const std::string& text) {
  std::string out;
  for (char32_t c : codePoints(text)) {
    if (c < 0x80) {
      out += escapeMarkup(std::string(1, static_cast<char>(c)));
    } else {
      char reference[16];
      std::snprintf(reference, sizeof reference, "&#x%X;", static_cast<unsigned>(c));
      out += reference;
    }
  }
  return out;
}

// A JSON string that can stand inside a <script> element of the page: "<", control characters
// and everything beyond ASCII are \u escapes (two, a surrogate pair, beyond U+FFFF).
std::string jsonString(const std::string& text) {
  std::string out = "\"";
  const auto escape = [&out](unsigned unit) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\u%04x", unit & 0xffffu);
    out += escaped;
  };
  for (char32_t c : codePoints(text)) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x10000) {
      escape(0xd800 + ((c - 0x10000) >> 10));
      escape(0xdc00 + ((c - 0x10000) & 0x3ff));
    } else if (c < 0x20 || c == '<' || c >= 0x7f) {
      escape(static_cast<unsigned>(c));
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// The template with each of its marks ("@TITLE@") replaced by its text, and cut at each of its
// `hole` marks: the text between them. What is put in is never searched for marks again, so
// that a title may hold anything.
std::vector<std::string> fill(const std::string& page,
                              const std::vector<std::pair<std::string, std::string>>& marks,
                              const std::string& hole = "") {
  std::vector<std::string> parts(1);
  std::size_t at = 0;
  for (;;) {
    std::size_t next = hole.empty() ? std::string::npos : page.find(hole, at);
    const std::pair<std::string, std::string>* found = nullptr;
    for (const auto& mark : marks) {
      const std::size_t where = page.find(mark.first, at);
      if (where < next) {
        next = where;
        found = &mark;
      }
    }
    if (next == std::string::npos) break;
    parts.back().append(page, at, next - at);
    if (found != nullptr) {
      parts.back() += found->second;
      at = next + found->first.size();
    } else {
      parts.emplace_back();
      at = next + hole.size();
    }
  }
  parts.back().append(page, at, std::string::npos);
  return parts;
}

}  // namespace

std::string jsonText(const std::string& text) {
  return jsonString(text);
}

std::vector<std::string> pageParts(const PageFacts& facts, bool live, PageKind kind) {
  std::string script;
  if (kind != PageKind::Index) {
    for (const char* part : PLAYER_SCRIPTS) script += part;
  }
  if (live && kind != PageKind::Index) script += LIVE_JS;
  if (kind == PageKind::Comparison) script += COMPARE_JS;
  if (kind == PageKind::Index) script += std::string(WORDS_JS) + INDEX_JS;
  std::string runs;
  for (std::size_t k = 0; k < facts.runs.size(); ++k) {
    runs += std::string(k > 0 ? ", " : "") + "{\"name\": " + jsonString(facts.runs[k]) +
            (k < facts.streams.size() ? ", \"stream\": " + jsonString(facts.streams[k]) : "") + "}";
  }
  std::string meta = "{\"program\": " + jsonString(facts.program) +
                     ", \"title\": " + jsonString(facts.title) + ", \"profile\": {" +
                     facts.profile + "}, \"digits\": " + std::to_string(facts.digits) +
                     ", \"live\": " + (live ? "true" : "false") +
                     (kind == PageKind::Comparison ? ", \"runs\": [" + runs + "]" : "") + "}";
  // The page's frame around its body: the template's own text, put together first.
  const char* body = kind == PageKind::Run          ? PLAYER_HTML
                     : kind == PageKind::Comparison ? COMPARE_HTML
                                                    : INDEX_HTML;
  const std::string page = fill(PAGE_HTML, {{"@BODY@", body}}).front();
  const std::string nonce = " nonce=\"" + std::string(NONCE_MARK) + "\">";
  // The template's own marks for the nonces, put in before anything else is.
  const std::string markup =
      live ? fill(page, {{"<style>", "<style" + nonce}, {"<script>", "<script" + nonce}}).front()
           : page;
  const char* start = kind == PageKind::Index ? "startIndex"
                      : kind == PageKind::Comparison
                          ? (live ? "startLiveComparison" : "startComparison")
                      : live ? "startLive"
                             : "startPage";
  std::vector<std::pair<std::string, std::string>> marks = {
      {"@TITLE@", markupText(facts.title)},
      {"@STYLE@", std::string(PLAYER_CSS) + (kind == PageKind::Run ? "" : STUDY_CSS)},
      {"@META@", meta},
      {"@SCRIPT@", script},
      {"@START@", start}};
  if (live) marks.emplace_back("@DATA@", "");
  return fill(markup, marks, live ? NONCE_MARK : "@DATA@");
}

}  // namespace companion
