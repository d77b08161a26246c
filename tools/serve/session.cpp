// A connection's requests, its responses and refusals, and the stream of the run's frames.
#include "serve/session.h"

#include "serve/follow.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>

namespace companion {

namespace {

// A request's line and headers, at most; it has no body.
constexpr std::size_t REQUEST_BYTES = 8192;
// To send a whole request, and between the requests of a kept-alive connection.
constexpr auto REQUEST_TIME = std::chrono::seconds(10);
// For a client to close its end once it has read a last response, whatever it sends meanwhile.
constexpr auto LINGER_TIME = std::chrono::seconds(2);
// For one write to a stream client to go through; a client that reads nothing is closed then.
constexpr auto WRITE_TIME = std::chrono::seconds(30);
// Frames of new steps that may wait for one stream client beyond what it was sent on connecting.
constexpr std::size_t BACKLOG_BYTES = std::size_t{8} << 20;
// One write to a stream client takes at most this much of its queue.
constexpr std::size_t WRITE_BYTES = std::size_t{1} << 18;
constexpr std::size_t WRITE_FRAMES = 64;

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
    case 400: return "A request the server cannot read.\n";
    case 401: return "The token is missing: open the address that the server printed.\n";
    case 403:
      return "Refused: a wrong token, or a Host that is neither localhost nor a loopback "
             "address nor the address the server was told to listen on.\n";
    case 404: return "Not found: the server has its page, /, and what the page asks for.\n";
    case 405: return "Only GET and HEAD.\n";
    case 413: return "A request has no body.\n";
    case 431: return "The request's headers are too large.\n";
    default: return "A request the server cannot read.\n";
  }
}

}  // namespace

Session::Session(const SessionContext& context, tcp::socket socket)
    : context_(context),
      stream_(std::move(socket)),
      buffer_(REQUEST_BYTES),
      backlog_(BACKLOG_BYTES) {
  context_.connections.add(this);
}

Session::~Session() {
  context_.connections.remove(this);
}

void Session::close() {
  if (closed_) return;
  closed_ = true;
  const std::shared_ptr<Session> self = shared_from_this();  // the hub may hold the last one
  if (hub_ != nullptr) {
    hub_->leave(this);
    hub_ = nullptr;
    run_->left();
  }
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
  const auto hosts = request.count(http::field::host);
  const RequestFacts facts{std::string(request.method_string()),
                           std::string(request.target()),
                           header(http::field::host),
                           header(http::field::cookie),
                           header("X-Meshplay-Token"),
                           static_cast<unsigned>(hosts)};
  const Verdict verdict = checkRequest(facts, context_.access);
  const bool streams = verdict.resource == Resource::Run || verdict.resource == Resource::RunStream;
  RunFollow* run = verdict.status == 200 && streams ? context_.site.stream(verdict) : nullptr;
  if (run != nullptr && request.method() == http::verb::get) {
    stream(*run, verdict, request.version());
  } else {
    respond(verdict, request, run);
  }
}

void Session::respond(const Verdict& verdict, const http::request<http::empty_body>& request,
                      RunFollow* run) {
  int status = verdict.status;
  Answer answer;
  const std::string nonce = randomHex(16);
  if (status == 200 && run == nullptr) {
    answer = context_.site.answer(verdict, nonce);
    if (answer.type.empty()) status = 404;
  }
  auto response = std::make_shared<http::response<http::string_body>>(
      static_cast<http::status>(status), request.version());
  if (status == 200 && run == nullptr) {
    secure(*response, "default-src 'none'; script-src 'nonce-" + nonce + "'; style-src 'nonce-" +
                          nonce +
                          "'; connect-src 'self'; base-uri 'none'; form-action 'none'; "
                          "frame-ancestors 'none'");
    response->set(http::field::content_type, answer.type);
    response->body() = std::move(answer.body);
  } else if (status == 200) {  // HEAD of a stream
    secure(*response, NO_CONTENT_POLICY);
    response->set(http::field::content_type, "application/octet-stream");
  } else {
    secure(*response, NO_CONTENT_POLICY);
    response->set(http::field::content_type, "text/plain; charset=utf-8");
    if (status == 405) response->set(http::field::allow, "GET, HEAD");
    response->body() = refusal(status);
  }
  if (verdict.setCookie && status == 200) {
    response->set(http::field::set_cookie, verdict.cookieName + "=" + context_.access.token +
                                               "; Path=/; HttpOnly; SameSite=Strict");
  }
  // A refused request ends its connection: a client that keeps asking without the token must not
  // hold one of the connections the viewers need.
  response->keep_alive(status == 200 && request.keep_alive());
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
// reset the connection, and the response with it. What it sends meanwhile is read and dropped,
// within one deadline that no byte puts off.
void Session::linger() {
  beast::error_code ignored;
  stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
  stream_.expires_after(LINGER_TIME);  // for every read that follows
  lingerRead();
}

void Session::lingerRead() {
  buffer_.clear();
  stream_.async_read_some(buffer_.prepare(REQUEST_BYTES / 2),
                          [self = shared_from_this()](beast::error_code error, std::size_t) {
                            if (error) {
                              self->close();
                            } else {
                              self->lingerRead();
                            }
                          });
}

void Session::stream(RunFollow& run, const Verdict& verdict, unsigned version) {
  // HTTP/1.0 has no chunks: its client reads the frames until the connection closes.
  chunked_ = version >= 11;
  head_ = std::make_unique<http::response<http::empty_body>>(http::status::ok, chunked_ ? 11 : 10);
  secure(*head_, NO_CONTENT_POLICY);
  head_->set(http::field::content_type, "application/octet-stream");
  head_->chunked(chunked_);
  head_->keep_alive(chunked_);
  serializer_ = std::make_unique<http::response_serializer<http::empty_body>>(*head_);
  writing_ = true;
  run_ = &run;
  hub_ = &run.hub();
  hub_->join(shared_from_this(), verdict);
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
  if (!backlog_.queue(frame->size())) {
    // It stopped reading, or reads too slowly: its page reconnects and resumes. Closed after the
    // hub's round of sending, which closing would disturb.
    forget();
    dropped_ = true;
    net::post(stream_.get_executor(), [self = shared_from_this()] { self->close(); });
    return;
  }
  pump();
}

void Session::catchUp(const Buffer& frame) {
  if (closed_ || dropped_) return;
  queue_.push_back(frame);
  backlog_.catchUp(frame->size());
  pump();
}

void Session::forget() {
  queue_.clear();
  backlog_.clear();
  mesh = nullptr;
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
  backlog_.written(bytes);
  writing_ = true;
  stream_.expires_after(WRITE_TIME);
  const auto wrote = [self = shared_from_this()](beast::error_code error, std::size_t) {
    self->writing_ = false;
    self->writing_frames_.clear();
    if (error) {
      self->close();
      return;
    }
    self->stream_.expires_never();
    self->pump();
  };
  if (chunked_) {
    net::async_write(stream_, http::make_chunk(buffers_), wrote);
  } else {
    net::async_write(stream_, buffers_, wrote);
  }
}

}  // namespace companion
