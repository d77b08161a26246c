// One connection: reading a request, refusals, the page, and the stream with its bounded queue.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "serve/backlog.h"
#include "serve/context.h"
#include "serve/frames.h"
#include "serve/hub.h"
#include "serve/net.h"
#include "serve/requests.h"

namespace companion {

// One connection: requests, then, for /run, the stream of the run's frames. A client that falls
// too far behind is dropped, and its page reconnects and resumes where it was.
class Session : public Client, public Connection, public std::enable_shared_from_this<Session> {
 public:
  Session(const SessionContext& context, tcp::socket socket);
  ~Session() override;
  void start() { read(); }
  void close() override;

  void send(const Buffer& frame) override;
  void catchUp(const Buffer& frame) override;
  void forget() override;
  std::size_t behind() const override { return backlog_.behind(); }

 private:
  void read();
  void onRead(beast::error_code error);
  void respond(const Verdict& verdict, const http::request<http::empty_body>& request,
               RunFollow* run);
  void refuse(http::status status);
  void write(std::shared_ptr<http::response<http::string_body>> response);
  void linger();
  void lingerRead();
  void stream(RunFollow& run, const Verdict& verdict, unsigned version);
  void pump();

  SessionContext context_;
  RunFollow* run_ = nullptr;  // the run streamed, and its hub
  Hub* hub_ = nullptr;
  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::empty_body>> parser_;
  bool closed_ = false;
  // The stream.
  std::unique_ptr<http::response<http::empty_body>> head_;
  std::unique_ptr<http::response_serializer<http::empty_body>> serializer_;
  bool writing_ = false, dropped_ = false;
  bool chunked_ = true;  // an HTTP/1.0 client is sent the frames as they are, then the close
  std::deque<Buffer> queue_;
  Backlog backlog_;
  std::vector<Buffer> writing_frames_;
  std::vector<net::const_buffer> buffers_;
};

}  // namespace companion
