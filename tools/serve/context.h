// What a connection is given by the server that accepted it: what the server serves (its site),
// the access rules and the registry of open connections; never the server itself.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "serve/hub.h"
#include "serve/requests.h"

namespace companion {

// An open connection, as the registry closes it.
class Connection {
 public:
  virtual ~Connection() = default;
  virtual void close() = 0;
};

// The connections open at once: each enters as it is made and leaves as it goes.
class Connections {
 public:
  void add(Connection* c) { open_.insert(c); }
  void remove(Connection* c) { open_.erase(c); }
  std::size_t size() const { return open_.size(); }
  void closeAll() {
    const std::vector<Connection*> open(open_.begin(), open_.end());  // each leaves as it closes
    for (Connection* c : open) c->close();
  }

 private:
  std::unordered_set<Connection*> open_;
};

class RunFollow;

// A page as a response carries it; not found when `type` is empty.
struct Answer {
  std::string type;
  std::string body;
};

// What a server serves, by what a request asks for.
class Site {
 public:
  virtual ~Site() = default;
  // The page or data a request asks for, with `nonce` on a page's inline script and style.
  virtual Answer answer(const Verdict& verdict, const std::string& nonce) = 0;
  // The run whose steps a stream request asks for; nullptr for none.
  virtual RunFollow* stream(const Verdict& verdict) = 0;
};

// A live page's text around the places where each response puts its own nonce.
class LivePage {
 public:
  explicit LivePage(std::vector<std::string> parts) : parts_(std::move(parts)) {}
  std::string text(const std::string& nonce) const {
    std::string text = parts_.front();
    for (std::size_t k = 1; k < parts_.size(); ++k) text += nonce + parts_[k];
    return text;
  }

 private:
  std::vector<std::string> parts_;
};

struct SessionContext {
  Site& site;
  const Access& access;
  Connections& connections;
};

}  // namespace companion
