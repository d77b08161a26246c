// The server's loop: where it listens, what it accepts, when it looks and beats, how it stops.
#include "serve/server.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <utility>

#include "common/failure.h"
#include "common/signals.h"
#include "serve/session.h"

namespace companion {

namespace {

// Connections at once; more are closed as they come.
constexpr std::size_t MAX_CONNECTIONS = 2000;
// Ports tried from the default one on while they are taken.
constexpr long PORTS_TRIED = 100;
// How often the file is looked at whatever inotify says: where it says nothing (NFS).
constexpr auto CHECK_INTERVAL = std::chrono::milliseconds(500);
// A heartbeat frame goes out when no step went out for this long.
constexpr auto HEARTBEAT_INTERVAL = std::chrono::seconds(2);

}  // namespace

Server::Server(const Program& program, const ServeSettings& settings, StepSource& source)
    : program_(program),
      source_(source),
      follower_(settings.resultFile, settings.fieldsPerRecord),
      hub_(settings.encoding) {
  source_.restart();
  // Run ids differ from one run to the next, and from those of an earlier server: a page that
  // reconnects to a server started again takes its run as a new one.
  std::uint32_t first = 0;
  randomBytes(&first, sizeof first);
  hub_.begin(first);

  access_.token = randomHex(24);
  const PageParts parts = pageParts(settings.facts, true);
  const std::string page = parts.head + parts.tail;
  const std::string mark = NONCE_MARK;
  for (std::size_t at = 0;;) {
    const std::size_t next = page.find(mark, at);
    page_.push_back(page.substr(at, next - at));
    if (next == std::string::npos) break;
    at = next + mark.size();
  }
  listen(settings);
}

std::string Server::url() const {
  const tcp::endpoint local = acceptor_.local_endpoint();
  net::ip::address address = local.address();
  if (address.is_unspecified()) {
    address = address.is_v6() ? net::ip::address(net::ip::address_v6::loopback())
                              : net::ip::address(net::ip::address_v4::loopback());
  }
  const std::string host = address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
  return "http://" + host + ":" + std::to_string(local.port()) + "/?token=" + access_.token;
}

std::string Server::page(const std::string& nonce) const {
  std::string text = page_[0];
  for (std::size_t k = 1; k < page_.size(); ++k) text += nonce + page_[k];
  return text;
}

void Server::listen(const ServeSettings& settings) {
  beast::error_code error;
  const net::ip::address address = settings.bind.empty()
                                       ? net::ip::make_address("127.0.0.1")
                                       : net::ip::make_address(settings.bind, error);
  if (error) {
    throw Failure("invalid value '" + settings.bind + "' for --bind: expected an IP address " +
                  "(such as 0.0.0.0 or 192.168.1.5)");
  }
  for (long port = settings.port;; ++port) {
    const tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
    acceptor_.open(endpoint.protocol());
    // The port is free again at once after a stop, whatever connections linger in TIME_WAIT.
    acceptor_.set_option(net::socket_base::reuse_address(true));
    acceptor_.bind(endpoint, error);
    if (!error) acceptor_.listen(net::socket_base::max_listen_connections, error);
    if (!error) break;
    acceptor_.close();
    const bool taken = error == net::error::address_in_use;
    if (settings.portGiven || !taken || port + 1 >= settings.port + PORTS_TRIED ||
        port + 1 > 65535) {
      if (!settings.portGiven && taken) {
        throw Failure("ports " + std::to_string(settings.port) + " to " + std::to_string(port) +
                      " are all taken; choose one with --port");
      }
      const std::string where = settings.bind.empty() ? "" : " of " + settings.bind;
      throw Failure("port " + std::to_string(port) + where + ": " + error.message());
    }
  }
  access_.port = acceptor_.local_endpoint().port();
  if (!address.is_loopback()) access_.bind = address.to_string();
}

void Server::run() {
  // Hundreds of clients are as many descriptors: take what the system allows.
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
  }
  if (stopDescriptor() >= 0) {
    stopped_.assign(::dup(stopDescriptor()));
    stopped_.async_wait(net::posix::descriptor_base::wait_read, [this](beast::error_code error) {
      if (!error) stop();
    });
  }
  if (follower_.changes() >= 0) {
    changes_.assign(::dup(follower_.changes()));
    waitForChanges();
  } else {
    program_.warn("inotify is not available: the file is looked at every half second");
  }
  accept();
  check();
  beat();
  look();
  io_.run();
}

void Server::accept() {
  acceptor_.async_accept([this](beast::error_code error, tcp::socket socket) {
    if (stopping_ || error == net::error::operation_aborted) return;
    if (error) {  // out of descriptors, say: try again a little later
      acceptTimer_.expires_after(std::chrono::milliseconds(100));
      acceptTimer_.async_wait([this](beast::error_code e) {
        if (!e && !stopping_) accept();
      });
      return;
    }
    if (sessions_.size() < MAX_CONNECTIONS) {
      socket.set_option(tcp::no_delay(true), error);  // frames go out as they come
      std::make_shared<Session>(*this, std::move(socket))->start();
    }
    accept();
  });
}

void Server::waitForChanges() {
  changes_.async_wait(net::posix::descriptor_base::wait_read, [this](beast::error_code error) {
    if (error || stopping_) return;
    look();
    waitForChanges();
  });
}

void Server::waitForPipe(unsigned opens) {
  pipe_.async_wait(net::posix::descriptor_base::wait_read, [this, opens](beast::error_code error) {
    if (error || stopping_ || opens != pipeOpens_) return;
    look();
    if (opens == pipeOpens_) waitForPipe(opens);  // else look() waits on the new one
  });
}

void Server::check() {
  checkTimer_.expires_after(CHECK_INTERVAL);
  checkTimer_.async_wait([this](beast::error_code error) {
    if (error || stopping_) return;  // a timer that went off as it was cancelled is no error
    look();
    check();
  });
}

void Server::beat() {
  heartbeatTimer_.expires_after(HEARTBEAT_INTERVAL);
  heartbeatTimer_.async_wait([this](beast::error_code error) {
    if (error || stopping_) return;
    hub_.heartbeat(std::chrono::duration<double>(Clock::now() - lastRecord_).count());
    beat();
  });
}

void Server::beginRun() {
  ended_ = false;
  lastRecord_ = Clock::now();
  try {
    source_.restart();
  } catch (const Interrupted&) {
    throw;
  } catch (const Failure& failure) {
    program_.warn(std::string(failure.what()) + "; the new run shows nothing");
    ended_ = true;
  }
  hub_.begin(hub_.run() + 1);
}

void Server::look() {
  if (stopping_) return;
  try {
    const Arrival arrival = follower_.look();
    if (arrival.newRun) beginRun();
    if (arrival.records > 0) lastRecord_ = Clock::now();
    if (!ended_ && (arrival.records > 0 || arrival.closed)) {
      ended_ = source_.take(arrival, [this](const StepData& step) { hub_.add(step); });
      hub_.publish();
      if (ended_) hub_.end();
    }
    if (arrival.more) net::post(io_, [this] { look(); });
    if (follower_.opens() != pipeOpens_) {
      pipeOpens_ = follower_.opens();
      beast::error_code ignored;
      pipe_.close(ignored);  // a pipe whose writer left reads as ready for ever
      if (follower_.pipe() >= 0) {
        pipe_.assign(::dup(follower_.pipe()));
        waitForPipe(pipeOpens_);
      }
    }
  } catch (const Interrupted&) {
    // A stop signal came while the run was read: the stop is on its way.
  }
}

void Server::stop() {
  stopping_ = true;
  beast::error_code ignored;
  acceptor_.close(ignored);
  changes_.close(ignored);
  stopped_.close(ignored);
  pipe_.close(ignored);
  checkTimer_.cancel();
  heartbeatTimer_.cancel();
  acceptTimer_.cancel();
  std::vector<Session*> open(sessions_.begin(), sessions_.end());
  for (Session* session : open) session->close();
}

void serve(const Program& program, const ServeSettings& settings, StepSource& source) {
  Server server(program, settings, source);
  std::printf("%s\n", server.url().c_str());
  std::fflush(stdout);
  if (!server.access().bind.empty()) {
    program.warn("serving on " + settings.bind + ", beyond this machine: anyone who can reach " +
                 "it and has the address can watch the run, and the connection is not encrypted");
  }
  server.run();
}

}  // namespace companion
