// The server's loop: where it listens, what it accepts, where it finds runs, when it beats, how
// it stops; and the pages and data it answers with.
#include "serve/server.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <utility>

#include "common/failure.h"
#include "common/mesh_values.h"
#include "common/signals.h"
#include "player/page_parts.h"
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
// How often a study's folders are looked at again for new runs: a job that starts is listed within
// about this, wherever its folder is.
constexpr auto SCAN_INTERVAL = std::chrono::seconds(1);
// A comparison shows two to six runs.
constexpr std::size_t FEWEST_COMPARED = 2, MOST_COMPARED = 6;
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

Server::Server(const Program& program, const ServeSettings& settings)
    : program_(program), settings_(settings), setup_{io_,     watch_,   program_, settings_,
                                                     study(), scratch_, turns_} {
  if (study()) {
    for (const std::string& folder : settings_.folders) {
      struct stat info {};
      if (::stat(folder.c_str(), &info) != 0) throw systemFailure(folder, errno);
      if (!S_ISDIR(info.st_mode)) throw Failure(folder + ": is not a folder");
    }
    scanner_ = std::make_unique<StudyScanner>(settings_.folders);
  } else {
    // The one run: its node and element files are there now, or the server does not start.
    settings_.source(".")->restart();
    runs_.emplace("", std::make_unique<RunFollow>(setup_, "", ".", true));
  }
  access_.token = randomHex(24);
  listen();
}

Server::~Server() = default;

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

void Server::listen() {
  const ServeSettings& settings = settings_;
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
    waitForChanges();
  } else {
    program_.warn("inotify is not available: the files are looked at every half second");
  }
  accept();
  beat();
  if (study()) {
    scan();
  } else {
    runs_.begin()->second->start();
  }
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
    // A study's runs hold a descriptor each for the files they follow.
    const std::size_t room = maxConnections_ > runs_.size() ? maxConnections_ - runs_.size() : 0;
    if (connections_.size() < room) {
      socket.set_option(tcp::no_delay(true), error);  // frames go out as they come
      std::make_shared<Session>(context_, std::move(socket))->start();
    } else if (!saidFull_) {
      saidFull_ = true;
      program_.warn(std::to_string(room) + " connections at once, the most this server takes: " +
                    "more are closed as they come");
    }
    accept();
  });
}

// inotify tells of changes to every run's file and folder: each run looks at its own.
void Server::waitForChanges() {
  changes_.async_wait(net::posix::descriptor_base::wait_read, [this](beast::error_code error) {
    if (error || stopping_) return;
    watch_.drain([this](int watch) {
      for (auto& [name, run] : runs_) run->changed(watch);
    });
    waitForChanges();
  });
}

void Server::scan() {
  for (const FoundRun& found : scanner_->scan()) {
    auto& run = runs_[found.name];
    run = std::make_unique<RunFollow>(setup_, found.name, found.path, false);
    run->start();
  }
  for (const std::string& trouble : scanner_->takeTroubles()) program_.warn(trouble);
  scanTimer_.expires_after(SCAN_INTERVAL);
  scanTimer_.async_wait([this](beast::error_code error) {
    if (!error && !stopping_) scan();
  });
}

void Server::beat() {
  heartbeatTimer_.expires_after(HEARTBEAT_INTERVAL);
  heartbeatTimer_.async_wait([this](beast::error_code error) {
    if (error || stopping_) return;
    for (auto& [name, run] : runs_) run->heartbeat();
    beat();
  });
}

void Server::stop() {
  stopping_ = true;
  beast::error_code ignored;
  acceptor_.close(ignored);
  changes_.close(ignored);
  stopped_.close(ignored);
  heartbeatTimer_.cancel();
  acceptTimer_.cancel();
  scanTimer_.cancel();
  turns_.clear();
  for (auto& [name, run] : runs_) run->stop();
  connections_.closeAll();
}

RunFollow* Server::listed(const std::string& name) const {
  const auto found = runs_.find(name);
  return found == runs_.end() ? nullptr : found->second.get();
}

RunFollow* Server::stream(const Verdict& verdict) {
  if (verdict.resource == Resource::Run && !study()) return runs_.begin()->second.get();
  if (verdict.resource == Resource::RunStream && study()) return listed(verdict.name);
  return nullptr;
}

const LivePage& Server::runPage(const RunFollow& run) {
  auto found = pages_.find(run.name());
  if (found == pages_.end()) {
    PageFacts facts = settings_.facts;
    if (study()) facts.title = run.name() + " \u2014 " + settings_.facts.program;
    found = pages_.emplace(run.name(), LivePage(pageParts(facts, true))).first;
  }
  return found->second;
}

// The runs' states, as the index reads them: a JSON array of {name, key, href, state, reason,
// steps, time, age}, `key` the name as an address gives it.
std::string Server::runs() const {
  std::string json = "[";
  for (const auto& [name, run] : runs_) {
    const RunState state = run->state();
    const std::string key = encodeName(name, false);
    if (json.size() > 1) json += ",\n";
    json += "{\"name\": " + jsonText(name) + ", \"key\": \"" + key + "\", \"href\": \"r/" +
            encodeName(name, true) + "/\", \"state\": \"" + kindName(state.kind) +
            "\", \"reason\": " + jsonText(state.reason) +
            ", \"steps\": " + std::to_string(state.steps) + ", \"time\": ";
    if (std::isfinite(state.time)) {
      appendNumber(json, state.time);
    } else {
      json += "null";
    }
    json += ", \"age\": ";
    appendNumber(json, std::round(state.age * 10) / 10);
    json += "}";
  }
  return json + "]";
}

Answer Server::answer(const Verdict& verdict, const std::string& nonce) {
  constexpr const char* HTML = "text/html; charset=windows-1252";
  if (!study()) {
    if (verdict.resource != Resource::Page) return {};
    return {HTML, runPage(*runs_.begin()->second).text(nonce)};
  }
  switch (verdict.resource) {
    case Resource::Page: {
      return {HTML, LivePage(pageParts(settings_.facts, true, PageKind::Index)).text(nonce)};
    }
    case Resource::Runs: return {"application/json", runs()};
    case Resource::RunPage: {
      const RunFollow* run = listed(verdict.name);
      if (run == nullptr) return {};
      return {HTML, runPage(*run).text(nonce)};
    }
    case Resource::Compare: {
      if (verdict.names.size() < FEWEST_COMPARED || verdict.names.size() > MOST_COMPARED) return {};
      PageFacts facts = settings_.facts;
      for (const std::string& name : verdict.names) {
        if (listed(name) == nullptr) return {};
        facts.runs.push_back(name);
        facts.streams.push_back("r/" + encodeName(name, true) + "/run");
      }
      facts.title = "Comparing " + std::to_string(facts.runs.size()) + " runs \u2014 " +
                    settings_.facts.program;
      return {HTML, LivePage(pageParts(facts, true, PageKind::Comparison)).text(nonce)};
    }
    default: return {};
  }
}

void serve(const Program& program, const ServeSettings& settings) {
  Server server(program, settings);
  std::printf("%s\n", server.url().c_str());
  std::fflush(stdout);
  if (!server.access().bind.empty()) {
    program.warn("serving on " + settings.bind + ", beyond this machine: anyone who can reach " +
                 "it and has the address can watch the run, and the connection is not encrypted");
  }
  server.run();
}

}  // namespace companion
