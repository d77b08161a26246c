// The checks of a request: Host, method, path and token.
#include "serve/requests.h"

#include <arpa/inet.h>
#include <sys/random.h>

#include <cerrno>
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

}  // namespace

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
  verdict.resource = path == "/" ? Resource::Page : path == "/run" ? Resource::Run : Resource::None;
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
