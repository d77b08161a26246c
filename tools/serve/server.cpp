// The server: Boost.Beast's HTTP over Boost.Asio on one thread. The run is kept once, as immutable
// chunks that every client's queue points to; a client that falls too far behind is dropped, and
// its page reconnects and resumes where it was.
#include "serve/server.h"

#include <sys/resource.h>
#include <unistd.h>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <unordered_set>
#include <utility>
#include <vector>

#include "common/failure.h"
#include "common/signals.h"
#include "serve/requests.h"

namespace companion {

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

// A request's line and headers, at most; it has no body.
constexpr std::size_t REQUEST_BYTES = 8192;
// To send a whole request, and between the requests of a kept-alive connection.
constexpr auto REQUEST_TIME = std::chrono::seconds(10);
// For a client to close its end once it has read a last response.
constexpr auto LINGER_TIME = std::chrono::seconds(2);
// For one write to a stream client to go through; a client that reads nothing is closed then.
constexpr auto WRITE_TIME = std::chrono::seconds(30);
// Frames of new steps that may wait for one stream client beyond what it was sent on connecting.
constexpr std::size_t BACKLOG_BYTES = std::size_t{8} << 20;
// One write to a stream client takes at most this much of its queue.
constexpr std::size_t WRITE_BYTES = std::size_t{1} << 18;
constexpr std::size_t WRITE_FRAMES = 64;
// Connections at once; more are closed as they come.
constexpr std::size_t MAX_CONNECTIONS = 2000;
// Ports tried from the default one on while they are taken.
constexpr long PORTS_TRIED = 100;
// How often the file is looked at whatever inotify says: where it says nothing (NFS).
constexpr auto CHECK_INTERVAL = std::chrono::milliseconds(500);
// A heartbeat frame goes out when no step went out for this long.
constexpr auto HEARTBEAT_INTERVAL = std::chrono::seconds(2);

// The frames of the stream: one kind byte, the payload's size (uint32, little-endian), the
// payload. 'M' and 'S' are the chunks of the run's encoding, already framed so.
constexpr char RUN_FRAME = 'R', END_FRAME = 'E', HEARTBEAT_FRAME = 'H';

using Buffer = std::shared_ptr<const std::string>;

Buffer frame(char kind, const void* payload, std::uint32_t size) {
  std::string bytes(5 + size, '\0');
  bytes[0] = kind;
  for (int k = 0; k < 4; ++k) bytes[1 + k] = static_cast<char>(size >> (8 * k));
  if (size > 0) std::memcpy(&bytes[5], payload, size);
  return std::make_shared<const std::string>(std::move(bytes));
}

Buffer runFrame(std::uint32_t run) {
  unsigned char id[4];
  for (int k = 0; k < 4; ++k) id[k] = static_cast<unsigned char>(run >> (8 * k));
  return frame(RUN_FRAME, id, 4);
}

Buffer heartbeatFrame(double seconds) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &seconds, sizeof bits);
  unsigned char value[8];
  for (int k = 0; k < 8; ++k) value[k] = static_cast<unsigned char>(bits >> (8 * k));
  return frame(HEARTBEAT_FRAME, value, 8);
}

// A steps chunk of the run with the steps it holds and the mesh they are drawn with.
struct Piece {
  long first = 0;
  long count = 0;
  Buffer mesh;
  Buffer chunk;
};

// A RunEncoder whose chunks come out as pieces, each with the steps it holds: a steps chunk
// holds every step added since the one before, except, when a mesh chunk follows it, the step
// that brought the new mesh.
class PieceEncoder {
 public:
  explicit PieceEncoder(EncodingOptions options) : encoder_(options) {}

  void add(const StepData& step, std::vector<Piece>& done) {
    out_.clear();
    encoder_.add(step, out_);
    cut(done, true);
  }
  void flush(std::vector<Piece>& done) {
    out_.clear();
    encoder_.flush(out_);
    cut(done, false);
  }

 private:
  void cut(std::vector<Piece>& done, bool stepAdded) {
    bool newMesh = false;
    for (std::size_t at = 0; at < out_.size(); at += 5 + chunkSize(at)) {
      newMesh = newMesh || out_[at] == static_cast<char>(MESH_CHUNK);
    }
    if (stepAdded && !newMesh) ++open_;
    for (std::size_t at = 0; at < out_.size(); at += 5 + chunkSize(at)) {
      Buffer chunk = std::make_shared<const std::string>(out_, at, 5 + chunkSize(at));
      if (out_[at] == static_cast<char>(MESH_CHUNK)) {
        mesh_ = std::move(chunk);
        if (stepAdded) ++open_;
      } else {
        done.push_back({first_, open_, mesh_, std::move(chunk)});
        first_ += open_;
        open_ = 0;
      }
    }
  }
  std::size_t chunkSize(std::size_t at) const {
    std::uint32_t size = 0;
    for (int k = 0; k < 4; ++k) {
      size |= static_cast<std::uint32_t>(static_cast<unsigned char>(out_[at + 1 + k])) << (8 * k);
    }
    return size;
  }

  RunEncoder encoder_;
  std::string out_;
  long first_ = 0;  // the open block's first step
  long open_ = 0;   // steps in the open block
  Buffer mesh_;     // the mesh of the open block
};

// One stream client, as the hub sees it.
class Client {
 public:
  virtual ~Client() = default;
  // Queues a frame; a client too far behind closes itself soon after (never within the call).
  virtual void send(const Buffer& frame) = 0;
  // A new run: what is queued and not being written is dropped.
  virtual void forget() = 0;
  // The frames just queued are the run so far: they do not count against the backlog.
  virtual void sentOnConnecting() = 0;

  Buffer mesh;  // the mesh last sent
};

// The current run, kept once, and the stream clients it goes to.
class Hub {
 public:
  explicit Hub(EncodingOptions options) : options_(options) {}

  std::uint32_t run() const { return run_; }

  // A new run, with its id: every client is told, and forgets the run before.
  void begin(std::uint32_t run) {
    run_ = run;
    closed_.clear();
    open_.clear();
    sent_ = 0;
    meshes_.clear();
    ended_ = false;
    EncodingOptions live = options_;
    live.blockSteps = 1;  // what a step brings, at once
    live.level = Z_BEST_SPEED;
    live_ = std::make_unique<PieceEncoder>(live);
    blocks_ = std::make_unique<PieceEncoder>(options_);
    const Buffer begins = runFrame(run);
    for (const std::shared_ptr<Client>& c : clients_) {
      c->forget();
      c->send(begins);
    }
  }

  // A step of the run: its chunks go out at publish(), and it is kept in its block.
  void add(const StepData& step) {
    live_->add(step, open_);
    std::vector<Piece> closed;
    blocks_->add(step, closed);
    if (!closed.empty()) keepBlocks(closed);
  }

  // Sends every step added, at the end of what one look at the file brought.
  void publish() {
    live_->flush(open_);
    for (; sent_ < open_.size(); ++sent_) {
      Piece& piece = open_[sent_];
      piece.mesh = canonical(piece.mesh);
      for (const std::shared_ptr<Client>& c : clients_) send(*c, piece);
      stepsSent_ = true;
    }
  }

  void end() {
    std::vector<Piece> closed;
    blocks_->flush(closed);
    keepBlocks(closed);
    ended_ = true;
    const Buffer ends = frame(END_FRAME, nullptr, 0);
    for (const std::shared_ptr<Client>& c : clients_) c->send(ends);
  }

  // Sends the heartbeat unless a step went out since the last one.
  void heartbeat(double secondsSinceRecord) {
    if (!stepsSent_) {
      const Buffer beat = heartbeatFrame(secondsSinceRecord);
      for (const std::shared_ptr<Client>& c : clients_) c->send(beat);
    }
    stepsSent_ = false;
  }

  // A client that connects: the run's id, then the steps of the run from `from` on (all of them
  // when its page held another run), and the end if the run has ended.
  void join(const std::shared_ptr<Client>& client, const Verdict& verdict) {
    const long from = verdict.resume && verdict.run == run_ ? verdict.from : 0;
    client->send(runFrame(run_));
    for (const std::vector<Piece>* pieces : {&closed_, &open_}) {
      for (std::size_t k = 0; k < (pieces == &open_ ? sent_ : pieces->size()); ++k) {
        if ((*pieces)[k].first + (*pieces)[k].count > from) send(*client, (*pieces)[k]);
      }
    }
    if (ended_) client->send(frame(END_FRAME, nullptr, 0));
    client->sentOnConnecting();
    clients_.push_back(client);
  }

  void leave(const Client* client) {
    for (std::size_t k = 0; k < clients_.size(); ++k) {
      if (clients_[k].get() == client) {
        clients_[k] = std::move(clients_.back());
        clients_.pop_back();
        return;
      }
    }
  }

 private:
  static void send(Client& client, const Piece& piece) {
    if (piece.mesh != client.mesh) {
      client.send(piece.mesh);
      client.mesh = piece.mesh;
    }
    client.send(piece.chunk);
  }

  // Blocks of the run, closed: they replace the steps the clients were sent one look at a time,
  // once those went out.
  void keepBlocks(std::vector<Piece>& blocks) {
    publish();
    for (Piece& block : blocks) {
      block.mesh = canonical(block.mesh);
      const long end = block.first + block.count;
      std::size_t covered = 0;
      while (covered < open_.size() && open_[covered].first + open_[covered].count <= end) {
        ++covered;
      }
      open_.erase(open_.begin(), open_.begin() + static_cast<std::ptrdiff_t>(covered));
      sent_ -= covered;
      closed_.push_back(std::move(block));
    }
  }

  // Both encoders write each mesh: one copy is kept, so that a client is sent it once.
  Buffer canonical(const Buffer& mesh) {
    for (const Buffer& kept : meshes_) {
      if (*kept == *mesh) return kept;
    }
    meshes_.push_back(mesh);
    return mesh;
  }

  EncodingOptions options_;
  std::uint32_t run_ = 0;
  std::unique_ptr<PieceEncoder> live_, blocks_;
  std::vector<Piece> closed_;  // whole blocks
  std::vector<Piece> open_;    // the steps of the open block, as they were sent
  std::size_t sent_ = 0;       // of open_, the pieces sent
  std::vector<Buffer> meshes_;
  bool ended_ = false;
  bool stepsSent_ = false;
  std::vector<std::shared_ptr<Client>> clients_;
};

class Server;

// One connection: requests, then, for /run, the stream of the run's frames.
class Session : public Client, public std::enable_shared_from_this<Session> {
 public:
  Session(Server& server, tcp::socket socket);
  ~Session() override;
  void start() { read(); }
  void close();

  void send(const Buffer& frame) override;
  void forget() override {
    for (const Buffer& b : queue_) queued_ -= b->size();
    queue_.clear();
    unsentOnConnecting_ = 0;
    mesh = nullptr;
  }
  void sentOnConnecting() override { unsentOnConnecting_ = queued_; }

 private:
  void read();
  void onRead(beast::error_code error);
  void respond(const Verdict& verdict, const http::request<http::empty_body>& request);
  void refuse(http::status status);
  void write(std::shared_ptr<http::response<http::string_body>> response);
  void linger();
  void stream(const Verdict& verdict);
  void pump();

  Server& server_;
  beast::tcp_stream stream_;
  beast::flat_buffer buffer_{REQUEST_BYTES};
  std::optional<http::request_parser<http::empty_body>> parser_;
  bool closed_ = false;
  // The stream.
  std::unique_ptr<http::response<http::empty_body>> head_;
  std::unique_ptr<http::response_serializer<http::empty_body>> serializer_;
  bool streaming_ = false, writing_ = false, dropped_ = false;
  std::deque<Buffer> queue_;
  std::size_t queued_ = 0;              // bytes in queue_
  std::size_t unsentOnConnecting_ = 0;  // of those, the run as it was on connecting
  std::vector<Buffer> writing_frames_;
  std::vector<net::const_buffer> buffers_;
};

class Server {
 public:
  Server(const Program& program, const ServeSettings& settings, StepSource& source);
  void run();
  // The address to open, with the token.
  std::string url() const;

  Hub& hub() { return hub_; }
  const Access& access() const { return access_; }
  std::unordered_set<Session*>& sessions() { return sessions_; }
  // The live page, with `nonce` on its inline script and style.
  std::string page(const std::string& nonce) const;

 private:
  void listen(const ServeSettings& settings);
  void accept();
  void waitForChanges();
  void waitForPipe(unsigned opens);
  void check();
  void look();
  void beginRun();
  void beat();
  void stop();

  const Program& program_;
  StepSource& source_;
  // Declared first, gone last: sessions leave it as they go, the last ones with the hub.
  std::unordered_set<Session*> sessions_;
  Access access_;
  std::vector<std::string> page_;  // the page's parts between its nonces
  ResultFollower follower_;
  net::io_context io_{1};
  Hub hub_;
  tcp::acceptor acceptor_{io_};
  net::posix::stream_descriptor changes_{io_}, stopped_{io_}, pipe_{io_};
  unsigned pipeOpens_ = 0;  // the follower's file that pipe_ waits on
  net::steady_timer checkTimer_{io_}, heartbeatTimer_{io_}, acceptTimer_{io_};
  bool ended_ = false;  // the run has ended: records are ignored until a new one
  Clock::time_point lastRecord_ = Clock::now();
  bool stopping_ = false;
};

// --- Session ---

Session::Session(Server& server, tcp::socket socket) : server_(server), stream_(std::move(socket)) {
  server_.sessions().insert(this);
}

Session::~Session() {
  server_.sessions().erase(this);
}

void Session::close() {
  if (closed_) return;
  closed_ = true;
  const std::shared_ptr<Session> self = shared_from_this();  // the hub may hold the last one
  if (streaming_) server_.hub().leave(this);
  beast::error_code ignored;
  stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
  stream_.close();
  forget();
}

void Session::read() {
  parser_.emplace();
  parser_->header_limit(REQUEST_BYTES);
  parser_->body_limit(0);  // refused as soon as its headers announce one
  stream_.expires_after(REQUEST_TIME);
  http::async_read(
      stream_, buffer_, *parser_,
      [self = shared_from_this()](beast::error_code error, std::size_t) { self->onRead(error); });
}

void Session::onRead(beast::error_code error) {
  if (error == http::error::header_limit || error == http::error::buffer_overflow) {
    refuse(http::status::request_header_fields_too_large);
    return;
  }
  if (error == http::error::body_limit || error == http::error::unexpected_body) {
    refuse(http::status::payload_too_large);
    return;
  }
  if (error) {
    // Not HTTP: told so. Closed, or silent for too long: closed.
    const bool malformed =
        error.category() == beast::error_code(http::error::bad_target).category();
    if (malformed && error != http::error::end_of_stream && error != http::error::partial_message) {
      refuse(http::status::bad_request);
    } else {
      close();
    }
    return;
  }
  const http::request<http::empty_body>& request = parser_->get();
  const auto header = [&request](auto field) { return std::string(request[field]); };
  const RequestFacts facts{std::string(request.method_string()), std::string(request.target()),
                           header(http::field::host), header(http::field::cookie),
                           header("X-Meshplay-Token")};
  const Verdict verdict = checkRequest(facts, server_.access());
  if (verdict.status == 200 && verdict.resource == Resource::Run &&
      request.method() == http::verb::get) {
    stream(verdict);
  } else {
    respond(verdict, request);
  }
}

// The headers of every response: no part of it is kept, framed, sniffed, or sent on as a
// referrer (which would carry the page's address, token and all).
template <class Message>
void secure(Message& message, const std::string& policy) {
  message.set("Content-Security-Policy", policy);
  message.set("Referrer-Policy", "no-referrer");
  message.set("X-Content-Type-Options", "nosniff");
  message.set(http::field::cache_control, "no-store");
  message.set("Cross-Origin-Resource-Policy", "same-origin");
}

const std::string NO_CONTENT_POLICY =
    "default-src 'none'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

const char* refusal(int status) {
  switch (status) {
    case 401: return "The token is missing: open the address that the server printed.\n";
    case 403:
      return "Refused: a wrong token, or a Host that is neither localhost nor a loopback "
             "address nor the address the server was told to listen on.\n";
    case 404: return "Not found: the server has the page, /, and its data, /run.\n";
    case 405: return "Only GET and HEAD.\n";
    case 413: return "A request has no body.\n";
    case 431: return "The request's headers are too large.\n";
    default: return "A request the server cannot read.\n";
  }
}

void Session::respond(const Verdict& verdict, const http::request<http::empty_body>& request) {
  auto response = std::make_shared<http::response<http::string_body>>(
      static_cast<http::status>(verdict.status), request.version());
  if (verdict.status == 200 && verdict.resource == Resource::Page) {
    const std::string nonce = randomHex(16);
    secure(*response, "default-src 'none'; script-src 'nonce-" + nonce + "'; style-src 'nonce-" +
                          nonce +
                          "'; connect-src 'self'; base-uri 'none'; form-action 'none'; "
                          "frame-ancestors 'none'");
    response->set(http::field::content_type, "text/html; charset=windows-1252");
    response->body() = server_.page(nonce);
  } else if (verdict.status == 200) {  // HEAD /run
    secure(*response, NO_CONTENT_POLICY);
    response->set(http::field::content_type, "application/octet-stream");
  } else {
    secure(*response, NO_CONTENT_POLICY);
    response->set(http::field::content_type, "text/plain; charset=utf-8");
    if (verdict.status == 405) response->set(http::field::allow, "GET, HEAD");
    response->body() = refusal(verdict.status);
  }
  if (verdict.setCookie) {
    response->set(http::field::set_cookie, verdict.cookieName + "=" + server_.access().token +
                                               "; Path=/; HttpOnly; SameSite=Strict");
  }
  response->keep_alive(request.keep_alive());
  response->prepare_payload();
  if (request.method() == http::verb::head) response->body().clear();
  write(std::move(response));
}

void Session::refuse(http::status status) {
  auto response = std::make_shared<http::response<http::string_body>>(status, 11);
  secure(*response, NO_CONTENT_POLICY);
  response->set(http::field::content_type, "text/plain; charset=utf-8");
  response->body() = refusal(static_cast<int>(status));
  response->keep_alive(false);
  response->prepare_payload();
  write(std::move(response));
}

void Session::write(std::shared_ptr<http::response<http::string_body>> response) {
  stream_.expires_after(REQUEST_TIME);
  http::async_write(stream_, *response,
                    [self = shared_from_this(), response](beast::error_code error, std::size_t) {
                      if (error) {
                        self->close();
                      } else if (response->keep_alive()) {
                        self->read();
                      } else {
                        self->linger();
                      }
                    });
}

// Closes after the client has read the response: closing with its request still coming in would
// reset the connection, and the response with it.
void Session::linger() {
  beast::error_code ignored;
  stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
  stream_.expires_after(LINGER_TIME);
  buffer_.clear();
  stream_.async_read_some(buffer_.prepare(REQUEST_BYTES / 2),
                          [self = shared_from_this()](beast::error_code error, std::size_t) {
                            if (error) {
                              self->close();
                            } else {
                              self->linger();
                            }
                          });
}

void Session::stream(const Verdict& verdict) {
  head_ = std::make_unique<http::response<http::empty_body>>(http::status::ok, 11);
  secure(*head_, NO_CONTENT_POLICY);
  head_->set(http::field::content_type, "application/octet-stream");
  head_->chunked(true);
  serializer_ = std::make_unique<http::response_serializer<http::empty_body>>(*head_);
  streaming_ = writing_ = true;
  server_.hub().join(shared_from_this(), verdict);
  stream_.expires_after(WRITE_TIME);
  http::async_write_header(stream_, *serializer_,
                           [self = shared_from_this()](beast::error_code error, std::size_t) {
                             self->writing_ = false;
                             if (error) {
                               self->close();
                             } else {
                               self->pump();
                             }
                           });
}

void Session::send(const Buffer& frame) {
  if (closed_ || dropped_) return;
  queue_.push_back(frame);
  queued_ += frame->size();
  if (queued_ - unsentOnConnecting_ > BACKLOG_BYTES) {
    // It stopped reading, or reads too slowly: its page reconnects and resumes. Closed after the
    // hub's round of sending, which closing would disturb.
    forget();
    dropped_ = true;
    net::post(stream_.get_executor(), [self = shared_from_this()] { self->close(); });
    return;
  }
  pump();
}

void Session::pump() {
  if (writing_ || closed_ || queue_.empty()) return;
  writing_frames_.clear();
  buffers_.clear();
  std::size_t bytes = 0;
  while (!queue_.empty() && bytes < WRITE_BYTES && buffers_.size() < WRITE_FRAMES) {
    bytes += queue_.front()->size();
    buffers_.push_back(net::buffer(*queue_.front()));
    writing_frames_.push_back(std::move(queue_.front()));
    queue_.pop_front();
  }
  queued_ -= bytes;
  unsentOnConnecting_ -= std::min(unsentOnConnecting_, bytes);
  writing_ = true;
  stream_.expires_after(WRITE_TIME);
  net::async_write(stream_, http::make_chunk(buffers_),
                   [self = shared_from_this()](beast::error_code error, std::size_t) {
                     self->writing_ = false;
                     self->writing_frames_.clear();
                     if (error) {
                       self->close();
                       return;
                     }
                     self->stream_.expires_never();
                     self->pump();
                   });
}

// --- Server ---

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

}  // namespace

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
