// The server's loop: where it listens, what it accepts, when it looks and beats, how it stops.
#include "serve/server.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
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
// Descriptors the server keeps for itself beside its connections: the files it reads, inotify,
// the pipe it waits on, its listening socket, the standard streams.
constexpr rlim_t OWN_DESCRIPTORS = 32;
// Ports tried from the default one on while they are taken.
constexpr long PORTS_TRIED = 100;
// How often the file is looked at whatever inotify says: where it says nothing (NFS).
constexpr auto CHECK_INTERVAL = std::chrono::milliseconds(500);
// The least time between two looks at the file that inotify asks for: a solver writing hundreds
// of records a second is taken in a few at a time, each look one pass over the new bytes, one
// chunk deflated and one write to each client, for at most this much more delay.
constexpr auto LOOK_GAP = std::chrono::milliseconds(20);
// While more is there to read, the next look waits as long as a client has more than this still
// to write of what the last ones brought, a little at a time and at most PAUSE_LIMIT: reading
// flat out must not leave the clients behind, and a client that stopped reading must not stop it.
constexpr std::size_t FEED_AHEAD = std::size_t{1} << 20;
constexpr auto PAUSE_STEP = std::chrono::milliseconds(2);
constexpr auto PAUSE_LIMIT = std::chrono::milliseconds(100);
// A heartbeat frame goes out when no step went out for this long.
constexpr auto HEARTBEAT_INTERVAL = std::chrono::seconds(2);

// Whether `address` is this machine's alone, an IPv4 loopback address written as IPv6 included.
bool isLoopback(const net::ip::address& address) {
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    return net::ip::make_address_v4(net::ip::v4_mapped, address.to_v6()).is_loopback();
  }
  return address.is_loopback();
}

}  // namespace

Server::Server(const Program& program, const ServeSettings& settings, StepSource& source)
    : program_(program),
      source_(source),
      page_(pageParts(settings.facts, true)),
      follower_(watch_, ".", settings.fieldsPerRecord),
      hub_(settings.encoding) {
  source_.restart();
  // Run ids differ from one run to the next, and from those of an earlier server: a page that
  // reconnects to a server started again takes its run as a new one.
  std::uint32_t first = 0;
  randomBytes(&first, sizeof first);
  hub_.begin(first);
  access_.token = randomHex(24);
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
  if (!isLoopback(address)) access_.bind = address.to_string();
}

void Server::run() {
  // Hundreds of clients are as many descriptors: take what the system allows, and keep enough of
  // it for the files, so that a crowd of connections never leaves a run unreadable.
  rlimit files{};
  maxConnections_ = MAX_CONNECTIONS;
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
    if (files.rlim_cur < files.rlim_max) {
      files.rlim_cur = files.rlim_max;
      ::setrlimit(RLIMIT_NOFILE, &files);
      ::getrlimit(RLIMIT_NOFILE, &files);
    }
    const rlim_t room =
        files.rlim_cur > 2 * OWN_DESCRIPTORS ? files.rlim_cur - OWN_DESCRIPTORS : OWN_DESCRIPTORS;
    if (room < MAX_CONNECTIONS) {
      maxConnections_ = static_cast<std::size_t>(room);
      program_.warn("the system lets this process open " + std::to_string(files.rlim_cur) +
                    " files: at most " + std::to_string(maxConnections_) +
                    " connections at once (ulimit -n raises it)");
    }
  }
  if (stopDescriptor() >= 0) {
    stopped_.assign(::dup(stopDescriptor()));
    stopped_.async_wait(net::posix::descriptor_base::wait_read, [this](beast::error_code error) {
      if (!error) stop();
    });
  }
  if (watch_.fd() >= 0) {
    changes_.assign(::dup(watch_.fd()));
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
    if (connections_.size() < maxConnections_) {
      socket.set_option(tcp::no_delay(true), error);  // frames go out as they come
      std::make_shared<Session>(context_, std::move(socket))->start();
    } else if (!saidFull_) {
      saidFull_ = true;
      program_.warn(std::to_string(maxConnections_) + " connections at once, the most this " +
                    "server takes: more are closed as they come");
    }
    accept();
  });
}

// inotify and the pipe say when a look is wanted; the look drains what they said, and they are
// waited on again after it.
void Server::waitForChanges() {
  if (waitingForChanges_ || !changes_.is_open() || stopping_) return;
  waitingForChanges_ = true;
  changes_.async_wait(net::posix::descriptor_base::wait_read, [this](beast::error_code error) {
    waitingForChanges_ = false;
    if (!error && !stopping_) lookSoon();
  });
}

void Server::waitForPipe() {
  if (waitingForPipe_ || !pipe_.is_open() || stopping_) return;
  waitingForPipe_ = true;
  pipe_.async_wait(net::posix::descriptor_base::wait_read,
                   [this, opens = pipeOpens_](beast::error_code error) {
                     if (opens != pipeOpens_) return;  // a pipe closed since
                     waitingForPipe_ = false;
                     if (!error && !stopping_) lookSoon();
                   });
}

void Server::check() {
  checkTimer_.expires_after(CHECK_INTERVAL);
  checkTimer_.async_wait([this](beast::error_code error) {
    if (error || stopping_) return;  // a timer that went off as it was cancelled is no error
    lookSoon();
    check();
  });
}

void Server::lookSoon() {
  if (lookDue_ || stopping_) return;
  lookDue_ = true;
  lookTimer_.expires_at(lastLook_ + LOOK_GAP);
  lookTimer_.async_wait([this](beast::error_code error) {
    if (error || stopping_) return;
    lookDue_ = false;
    look();
  });
}

void Server::lookOn(Clock::time_point since) {
  lookDue_ = true;
  if (hub_.mostBehind() > FEED_AHEAD && Clock::now() - since < PAUSE_LIMIT) {
    lookTimer_.expires_after(PAUSE_STEP);
    lookTimer_.async_wait([this, since](beast::error_code error) {
      if (!error && !stopping_) lookOn(since);
    });
    return;
  }
  net::post(io_, [this] {
    if (stopping_) return;
    lookDue_ = false;
    look();
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
  if (!ended_) warnNotFinite(program_, hub_.replaced());  // the run before, cut short
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

void Server::endRun() {
  hub_.end();
  warnNotFinite(program_, hub_.replaced());
}

void Server::take(const Arrival& arrival) {
  if (arrival.newRun) beginRun();
  if (arrival.records > 0) lastRecord_ = Clock::now();
  if (ended_ || (arrival.records == 0 && !arrival.closed)) return;
  ended_ = source_.take(arrival, [this](const StepData& step) { hub_.add(step); });
  hub_.publish();
  if (ended_) endRun();
}

void Server::look() {
  if (stopping_) return;
  lastLook_ = Clock::now();
  bool more = false;
  try {
    watch_.drain([](int) {});  // the one file's and folder's events: this look takes them all
    const Arrival arrival = follower_.look();
    if (!arrival.trouble.empty()) program_.warn(arrival.trouble);
    take(arrival);
    more = arrival.more;
    failed_.clear();
  } catch (const Interrupted&) {
    return;  // a stop signal came while the run was read: the stop is on its way
  } catch (const Failure& failure) {
    // Whatever fails with the run, the server goes on serving what it has, and tries again.
    if (failure.what() != failed_) {
      failed_ = failure.what();
      program_.warn(failed_ + "; still serving, trying again");
    }
  }
  if (follower_.opens() != pipeOpens_) {
    pipeOpens_ = follower_.opens();
    beast::error_code ignored;
    pipe_.close(ignored);  // a pipe whose writer left reads as ready for ever
    waitingForPipe_ = false;
    if (follower_.pipe() >= 0) pipe_.assign(::dup(follower_.pipe()), ignored);
  }
  waitForChanges();
  waitForPipe();
  if (more) lookOn(Clock::now());
}

void Server::stop() {
  stopping_ = true;
  if (!ended_) warnNotFinite(program_, hub_.replaced());
  beast::error_code ignored;
  acceptor_.close(ignored);
  changes_.close(ignored);
  stopped_.close(ignored);
  pipe_.close(ignored);
  checkTimer_.cancel();
  heartbeatTimer_.cancel();
  acceptTimer_.cancel();
  lookTimer_.cancel();
  connections_.closeAll();
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
