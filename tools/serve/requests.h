// What the server answers to a request, decided from the request's line and headers alone before
// anything of the run is touched: the Host it names, its method, its path and its token.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace companion {

// What every request is checked against.
struct Access {
  std::string token;  // the secret of the URL printed at start
  // The address given to --bind ("192.168.1.5", "::"); "" when the server listens on loopback.
  std::string bind;
  unsigned port = 0;  // the port the server listens on
};

// The parts of a request the checks read; a header that is missing is "".
struct RequestFacts {
  std::string method{};  // "GET"
  std::string target{};  // "/run?run=7&from=12"
  std::string host{};    // the Host header
  std::string cookie{};  // the Cookie header
  std::string token{};   // the X-Meshplay-Token header
  unsigned hosts = 1;    // Host headers given: two that may differ are no answer to trust
};

// What a request asks for. A server of one run has its page (/) and its stream (/run); a server of
// a study has its index (/), the runs' states (/runs), a comparison of runs (/compare?run=A&run=B)
// and each run's page and stream (/r/NAME/, /r/NAME/run). Which of them a server has, and which
// names, it says itself: the checks here read the request alone.
enum class Resource { None, Page, Run, Runs, Compare, RunPage, RunStream };

struct Verdict {
  int status = 0;  // 200, or the refusal: 400, 401, 403, 404 or 405
  Resource resource = Resource::None;
  // The token came in the query and was right: the response sets the cookie `cookieName`, which
  // later requests (the page's own) carry instead. Browsers send a host's cookies to all its
  // ports, so the cookie is named for the port the browser sees, the Host header's ("meshplay-
  // 8000", through a tunnel the tunnel's), or the server's when the Host names none.
  bool setCookie = false;
  std::string cookieName;
  // /run?run=R&from=N: the page holds steps 0 ... N-1 of run R. Without both, or with either
  // malformed, the page holds nothing.
  bool resume = false;
  std::uint32_t run = 0;
  long from = 0;
  // RunPage, RunStream: the run's name, its bytes as the path gives them percent-encoded; Compare:
  // the names of the runs, in order.
  std::string name;
  std::vector<std::string> names;
};

// The checks in order: more than one Host header is refused (400); a Host that is neither localhost
// nor a loopback address (with any port: a tunnel changes it) nor the --bind address is refused
// (403), which defeats DNS rebinding; a method other than GET or HEAD gets 405; a path other than
// "/" and "/run" 404; then the token, from the query's token=, the X-Meshplay-Token header or the
// cookie, compared in constant time: none given is 401, none right 403. When --bind names every
// address ("0.0.0.0", "::"), a Host that is any address literal is let through, as no DNS name is.
Verdict checkRequest(const RequestFacts& request, const Access& access);

// A run's name as it stands in an address: every byte but letters, digits and "-._~" as %XX, and
// a "/" as it is where `inPath` (between its parts in the path of /r/NAME/), as %2F elsewhere.
std::string encodeName(const std::string& name, bool inPath);

// Random bytes from the system; and `bytes` of them as lower-case hexadecimal: tokens, nonces.
void randomBytes(void* out, std::size_t bytes);
std::string randomHex(std::size_t bytes);

}  // namespace companion
