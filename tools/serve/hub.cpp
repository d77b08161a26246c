// The run kept once and sent to every stream client: live, step by step, and in closed blocks.
#include "serve/hub.h"

#include <algorithm>
#include <utility>

namespace companion {

void Hub::begin(std::uint32_t run) {
  run_ = run;
  closed_.clear();
  open_.clear();
  sent_ = 0;
  meshes_.clear();
  ended_ = false;
  EncodingOptions live = options_;
  // A live chunk holds what one look at the file brought: one step at the solver's pace, many
  // when it writes faster than the clients are served, so that each frame, deflated once,
  // costs every client one write however many steps it holds.
  live.level = Z_BEST_SPEED;
  live.strategy = Z_RLE;
  live_ = std::make_unique<PieceEncoder>(live);
  blocks_ = std::make_unique<PieceEncoder>(options_);
  const Buffer begins = runFrame(run);
  for (const std::shared_ptr<Client>& c : clients_) {
    c->forget();
    c->send(begins);
  }
}

void Hub::add(const StepData& step) {
  live_->add(step, open_);
  std::vector<Piece> closed;
  blocks_->add(step, closed);
  if (!closed.empty()) keepBlocks(closed);
}

void Hub::publish() {
  live_->flush(open_);
  for (; sent_ < open_.size(); ++sent_) {
    Piece& piece = open_[sent_];
    piece.mesh = canonical(piece.mesh);
    for (const std::shared_ptr<Client>& c : clients_) send(*c, piece, false);
    stepsSent_ = true;
  }
}

void Hub::end() {
  std::vector<Piece> closed;
  blocks_->flush(closed);
  keepBlocks(closed);
  ended_ = true;
  const Buffer ends = frame(END_FRAME, {});
  for (const std::shared_ptr<Client>& c : clients_) c->send(ends);
}

void Hub::heartbeat(double secondsSinceRecord) {
  if (!stepsSent_) {
    const Buffer beat = heartbeatFrame(secondsSinceRecord);
    for (const std::shared_ptr<Client>& c : clients_) c->send(beat);
  }
  stepsSent_ = false;
}

void Hub::join(const std::shared_ptr<Client>& client, const Verdict& verdict) {
  const long from = verdict.resume && verdict.run == run_ ? verdict.from : 0;
  client->catchUp(runFrame(run_));
  for (const std::vector<Piece>* pieces : {&closed_, &open_}) {
    for (std::size_t k = 0; k < (pieces == &open_ ? sent_ : pieces->size()); ++k) {
      if ((*pieces)[k].first + (*pieces)[k].count > from) send(*client, (*pieces)[k], true);
    }
  }
  if (ended_) client->catchUp(frame(END_FRAME, {}));
  clients_.push_back(client);
}

void Hub::leave(const Client* client) {
  for (std::size_t k = 0; k < clients_.size(); ++k) {
    if (clients_[k].get() == client) {
      clients_[k] = std::move(clients_.back());
      clients_.pop_back();
      return;
    }
  }
}

std::size_t Hub::mostBehind() const {
  std::size_t most = 0;
  for (const std::shared_ptr<Client>& c : clients_) most = std::max(most, c->behind());
  return most;
}

void Hub::send(Client& client, const Piece& piece, bool catchUp) {
  const auto queue = [&client, catchUp](const Buffer& frame) {
    if (catchUp) {
      client.catchUp(frame);
    } else {
      client.send(frame);
    }
  };
  if (piece.mesh != client.mesh) {
    queue(piece.mesh);
    client.mesh = piece.mesh;
  }
  queue(piece.chunk);
}

void Hub::keepBlocks(std::vector<Piece>& blocks) {
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

Buffer Hub::canonical(const Buffer& mesh) {
  for (const Buffer& kept : meshes_) {
    if (*kept == *mesh) return kept;
  }
  meshes_.push_back(mesh);
  return mesh;
}

}  // namespace companion
