// The checks of a request: Host, method, path and token.
#include "serve/requests.h"

#include <arpa/inet.h>
#include <sys/random.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "common/failure.h"

namespace companion {

namespace {

// The bytes of an address literal ("127.0.0.1", "::1", IPv6 without brackets); empty when
// `text` is none.
std::string addressBytes(const std::string& text) {
  unsigned char bytes[16];
  if (inet_pton(AF_INET, text.c_str(), bytes) == 1) return std::string(bytes, bytes + 4);
  if (inet_pton(AF_INET6, text.c_str(), bytes) == 1) return std::string(bytes, bytes + 16);
  return "";
}

bool isDigits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// The name and the port of a Host header ("localhost:8000", "[::1]:8000", "127.0.0.1"); false
// when it is neither a name nor a bracketed IPv6 address, with an optional port of digits.
bool splitHost(const std::string& host, std::string& name, std::string& port) {
  std::size_t colon;
  if (!host.empty() && host[0] == '[') {
    const std::size_t close = host.find(']');
    if (close == std::string::npos) return false;
    name = host.substr(1, close - 1);
    colon = close + 1;
    if (colon < host.size() && host[colon] != ':') return false;
  } else {
    colon = host.find(':');
    name = host.substr(0, colon);
    if (name.find('[') != std::string::npos) return false;
  }
  port = colon < host.size() ? host.substr(colon + 1) : "";
  return !name.empty() && port.size() <= 5 && isDigits(port);
}

std::string lowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

bool hostAllowed(const std::string& name, const Access& access) {
  if (name == "localhost") return true;
  const std::string address = addressBytes(name);
  if (address.empty()) return false;  // a DNS name: what a rebinding attack needs
  static const std::string IPV6_LOOPBACK = addressBytes("::1");
  static const std::string V4_MAPPED = addressBytes("::ffff:0.0.0.0").substr(0, 12);
  const bool v4Loopback =
      (address.size() == 4 && address[0] == 127) ||
      (address.size() == 16 && address.compare(0, 12, V4_MAPPED) == 0 && address[12] == 127);
  if (v4Loopback || address == IPV6_LOOPBACK) return true;
  const std::string bound = addressBytes(access.bind);
  return !bound.empty() && (address == bound || bound.find_first_not_of('\0') == std::string::npos);
}

// Equal texts, in a time that depends on their lengths alone: a wrong token's first bytes that
// happen to be right take no longer to refuse.
bool sameSecret(std::string_view given, std::string_view secret) {
  if (given.size() != secret.size() || secret.empty()) return false;
  unsigned char differ = 0;
  for (std::size_t k = 0; k < secret.size(); ++k) {
    differ |= static_cast<unsigned char>(given[k] ^ secret[k]);
  }
  return differ == 0;
}

// The value of `key` in "a=1; b=2" (separated by `separator`), and whether it is there.
bool findValue(std::string_view list, std::string_view key, char separator,
               std::string_view& value) {
  while (!list.empty()) {
    const std::size_t end = list.find(separator);
    std::string_view item = list.substr(0, end);
    list = end == std::string_view::npos ? std::string_view() : list.substr(end + 1);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    if (item.size() > key.size() && item.substr(0, key.size()) == key && item[key.size()] == '=') {
      value = item.substr(key.size() + 1);
      return true;
    }
  }
  return false;
}

// A whole number of decimal digits, at most `limit`.
bool wholeNumber(std::string_view text, unsigned long long limit, unsigned long long& value) {
  if (text.empty() || text.size() > 10 || !isDigits(text)) return false;
  value = 0;
  for (char c : text) value = value * 10 + static_cast<unsigned long long>(c - '0');
  return value <= limit;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// `text` with each %XX made the byte it names; false for a "%" without two hex digits, for a NUL,
// and in a path (`inPath`) for an encoded "/", which would make one name of two parts.
bool decodeName(std::string_view text, bool inPath, std::string& out) {
  out.clear();
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (text[k] != '%') {
      out += text[k];
      continue;
    }
    if (text.size() - k < 3) return false;
    const int high = hexDigit(text[k + 1]), low = hexDigit(text[k + 2]);
    if (high < 0 || low < 0) return false;
    const char byte = static_cast<char>(high * 16 + low);
    if (byte == '\0' || (inPath && byte == '/')) return false;
    out += byte;
    k += 2;
  }
  return !out.empty();
}

Resource resourceAndName(std::string_view path, std::string& name);

// A run's name from the path after /r/: parts between slashes, none empty, "." or "..".
bool runName(std::string_view path, std::string& name) {
  if (!decodeName(path, true, name)) return false;
  for (std::size_t at = 0; at <= name.size();) {
    const std::size_t slash = std::min(name.find('/', at), name.size());
    const std::string_view part(name.data() + at, slash - at);
    if (part.empty() || part == "." || part == "..") return false;
    at = slash + 1;
  }
  return true;
}

// The resource a path names, and for a run's the run's name.
Resource resourceOf(std::string_view path, std::string& name) {
  const Resource resource = resourceAndName(path, name);
  if (resource == Resource::None) name.clear();
  return resource;
}

Resource resourceAndName(std::string_view path, std::string& name) {
  if (path == "/") return Resource::Page;
  if (path == "/run") return Resource::Run;
  if (path == "/runs") return Resource::Runs;
  if (path == "/compare") return Resource::Compare;
  constexpr std::string_view RUNS = "/r/", STREAM = "/run";
  if (path.substr(0, RUNS.size()) != RUNS) return Resource::None;
  path.remove_prefix(RUNS.size());
  if (path.size() > STREAM.size() && path.substr(path.size() - STREAM.size()) == STREAM) {
    return runName(path.substr(0, path.size() - STREAM.size()), name) ? Resource::RunStream
                                                                      : Resource::None;
  }
  if (!path.empty() && path.back() == '/') {
    return runName(path.substr(0, path.size() - 1), name) ? Resource::RunPage : Resource::None;
  }
  return Resource::None;
}

}  // namespace

std::string encodeName(const std::string& name, bool inPath) {
  static const char DIGITS[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : name) {
    const auto b = static_cast<unsigned char>(c);
    const bool plain = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') ||
                       b == '-' || b == '.' || b == '_' || b == '~' || (inPath && b == '/');
    if (plain) {
      out += c;
    } else {
      out += '%';
      out += DIGITS[b >> 4];
      out += DIGITS[b & 15];
    }
  }
  return out;
}

Verdict checkRequest(const RequestFacts& request, const Access& access) {
  Verdict verdict;
  if (request.hosts > 1) {
    verdict.status = 400;
    return verdict;
  }
  std::string name, port;
  if (!splitHost(lowerCase(request.host), name, port) || !hostAllowed(name, access)) {
    verdict.status = 403;
    return verdict;
  }
  if (request.method != "GET" && request.method != "HEAD") {
    verdict.status = 405;
    return verdict;
  }
  const std::string_view target = request.target;
  const std::size_t mark = target.find('?');
  const std::string_view path = target.substr(0, mark);
  const std::string_view query =
      mark == std::string_view::npos ? std::string_view() : target.substr(mark + 1);
  verdict.resource = resourceOf(path, verdict.name);
  if (verdict.resource == Resource::Compare) {
    // Each run= of the query, in order; one that is not a name is no comparison.
    std::string_view rest = query;
    while (!rest.empty()) {
      const std::size_t amp = rest.find('&');
      const std::string_view item = rest.substr(0, amp);
      rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
      if (item.substr(0, 4) != "run=") continue;
      std::string run;
      if (!decodeName(item.substr(4), false, run)) verdict.resource = Resource::None;
      verdict.names.push_back(run);
    }
  }
  if (verdict.resource == Resource::None) {
    verdict.status = 404;
    return verdict;
  }

  verdict.cookieName = "meshplay-" + (port.empty() ? std::to_string(access.port) : port);
  std::string_view inQuery, inCookie;
  const bool queryHasToken = findValue(query, "token", '&', inQuery);
  const bool cookieHasToken = findValue(request.cookie, verdict.cookieName, ';', inCookie);
  const bool right = (queryHasToken && sameSecret(inQuery, access.token)) ||
                     sameSecret(request.token, access.token) ||
                     (cookieHasToken && sameSecret(inCookie, access.token));
  if (!right) {
    verdict.status = queryHasToken || cookieHasToken || !request.token.empty() ? 403 : 401;
    verdict.resource = Resource::None;
    return verdict;
  }
  verdict.status = 200;
  verdict.setCookie = queryHasToken && sameSecret(inQuery, access.token);

  std::string_view run, from;
  unsigned long long runNumber = 0, fromStep = 0;
  verdict.resume = findValue(query, "run", '&', run) && findValue(query, "from", '&', from) &&
                   wholeNumber(run, 0xffffffffULL, runNumber) &&
                   wholeNumber(from, 0x7fffffffULL, fromStep);
  if (verdict.resume) {
    verdict.run = static_cast<std::uint32_t>(runNumber);
    verdict.from = static_cast<long>(fromStep);
  }
  return verdict;
}

void randomBytes(void* out, std::size_t bytes) {
  for (std::size_t got = 0; got < bytes;) {
    const ssize_t n = ::getrandom(static_cast<char*>(out) + got, bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw systemFailure("getrandom", errno);
    got += static_cast<std::size_t>(n);
  }
}

std::string randomHex(std::size_t bytes) {
  std::vector<unsigned char> random(bytes);
  randomBytes(random.data(), bytes);
  static const char DIGITS[] = "0123456789abcdef";
  std::string text;
  for (unsigned char b : random) {
    text += DIGITS[b >> 4];
    text += DIGITS[b & 15];
  }
  return text;
}

}  // namespace companion
