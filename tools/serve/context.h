// What a connection is given by the server that accepted it: the hub, the access rules, the live
// page and the registry of open connections; never the server itself.
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

// The live page's text around the places where each response puts its own nonce.
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
  Hub& hub;
  const Access& access;
  const LivePage& page;
  Connections& connections;
};

}  // namespace companion
