// The stream clients and the run they share, kept once as immutable frames their queues point to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "player/encoding.h"
#include "serve/frames.h"
#include "serve/requests.h"

namespace companion {

// One stream client, as the hub sees it.
class Client {
 public:
  virtual ~Client() = default;
  // Queues a frame of new steps; a client too far behind closes itself soon after (never within
  // the call).
  virtual void send(const Buffer& frame) = 0;
  // Queues a frame of the run as it was on connecting: however many, they never make a client
  // too far behind.
  virtual void catchUp(const Buffer& frame) = 0;
  // A new run: what is queued and not being written is dropped.
  virtual void forget() = 0;
  // Bytes of new frames waiting to be written.
  virtual std::size_t behind() const = 0;

  Buffer mesh;  // the mesh last sent
};

// The current run, kept once, and the stream clients it goes to.
class Hub {
 public:
  explicit Hub(EncodingOptions options) : options_(options) {}

  std::uint32_t run() const { return run_; }

  // A new run, with its id: every client is told, and forgets the run before.
  void begin(std::uint32_t run);

  // A step of the run: its chunks go out at publish(), and it is kept in its block.
  void add(const StepData& step);

  // Sends every step added, at the end of what one look at the file brought.
  void publish();

  void end();

  // Sends the heartbeat unless a step went out since the last one.
  void heartbeat(double secondsSinceRecord);

  // A client that connects: the run's id, then the steps of the run from `from` on (all of them
  // when its page held another run), and the end if the run has ended.
  void join(const std::shared_ptr<Client>& client, const Verdict& verdict);

  void leave(const Client* client);

  // The most that any client has waiting, in bytes of new frames.
  std::size_t mostBehind() const;
  std::size_t clients() const { return clients_.size(); }

  // Values of the run's steps that were not finite numbers, shown as 0.
  long replaced() const { return blocks_ ? blocks_->replaced() : 0; }

 private:
  static void send(Client& client, const Piece& piece, bool catchUp);

  // Blocks of the run, closed: they replace the steps the clients were sent one look at a time,
  // once those went out.
  void keepBlocks(std::vector<Piece>& blocks);

  // Both encoders make each mesh: one copy is kept, so that a client is sent it once.
  Buffer canonical(const Buffer& mesh);

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

}  // namespace companion
