#include "arena/server/session.hpp"

#include <algorithm>
#include <utility>

namespace nimbus::arena {

Session::Session(asio::ip::tcp::socket socket, SessionHost& host, std::int32_t id)
    : label("connection " + std::to_string(id)), socket_(std::move(socket)), host_(host), id_(id) {
    asio::error_code ignored;
    socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
}

bool Session::endpoints(Endpoint4& client, Endpoint4& arena) const {
    asio::error_code ec;
    const auto remote = socket_.remote_endpoint(ec);
    if (ec || !remote.address().is_v4()) {
        return false;
    }
    const auto local = socket_.local_endpoint(ec);
    if (ec || !local.address().is_v4()) {
        return false;
    }
    const auto far = remote.address().to_v4().to_bytes();
    const auto near = local.address().to_v4().to_bytes();
    std::copy(far.begin(), far.end(), client.address);
    std::copy(near.begin(), near.end(), arena.address);
    client.port = remote.port();
    arena.port = local.port();
    return true;
}

void Session::start() {
    readMore();
}

void Session::readMore() {
    if (!open_) {
        return;
    }
    socket_.async_read_some(asio::buffer(readBuffer_),
                            [self = shared_from_this()](const asio::error_code& ec, std::size_t n) {
                                if (!self->open_) {
                                    return;
                                }
                                if (ec) {
                                    self->finish();
                                    return;
                                }
                                self->consume(n);
                                self->readMore();
                            });
}

void Session::consume(std::size_t n) {
    const auto stop = lines_.feed(readBuffer_.data(), n, [this](std::string&& line) {
        if (!open_) {
            return false;
        }
        if (!held_) {
            dispatch(line);
            return open_;
        }
        waitingBytes_ += line.size() + 1;
        if (waitingBytes_ > kMaxPendingReplyBytes) {
            abort("sent more than 1 MiB before the game started");
            return false;
        }
        waiting_.push_back(std::move(line));
        return true;
    });
    if (stop == LineAssembler::Stop::TooLong && open_) {
        abort("sent a line over " + std::to_string(kMaxLineBytes) + " bytes");
    }
}

void Session::dispatch(const std::string& line) {
    if (open_ && !closing_) {
        host_.onLine(*this, line);
    }
}

void Session::release() {
    held_ = false;
    while (!waiting_.empty() && !held_ && open_) {
        std::string line = std::move(waiting_.front());
        waiting_.pop_front();
        waitingBytes_ -= line.size() + 1;
        dispatch(line);
    }
}

void Session::send(const std::string& text) {
    if (!open_ || closing_) {
        return;
    }
    outgoing_ += text;
    if (outgoing_.size() + inFlight_.size() > kMaxPendingReplyBytes) {
        abort("left more than 1 MiB of replies unread");
        return;
    }
    writeMore();
}

void Session::writeMore() {
    if (writing_ || !open_) {
        return;
    }
    if (outgoing_.empty()) {
        if (closing_) {
            finish();
        }
        return;
    }
    inFlight_.swap(outgoing_);
    outgoing_.clear();
    writing_ = true;
    asio::async_write(socket_, asio::buffer(inFlight_),
                      [self = shared_from_this()](const asio::error_code& ec, std::size_t) {
                          self->writing_ = false;
                          self->inFlight_.clear();
                          if (!self->open_) {
                              return;
                          }
                          if (ec) {
                              self->finish();
                              return;
                          }
                          self->writeMore();
                      });
}

void Session::closeAfterFlush() {
    if (!open_ || closing_) {
        return;
    }
    closing_ = true;
    writeMore();
}

void Session::abort(const std::string& why) {
    if (!open_) {
        return;
    }
    host_.log(label + " " + why + ": disconnected");
    finish();
}

void Session::finish() {
    if (!open_) {
        return;
    }
    open_ = false;
    asio::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
    waiting_.clear();
    host_.onClosed(*this);
}

}  // namespace nimbus::arena
