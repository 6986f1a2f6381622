#include "arena/server/session.hpp"

#include <utility>

namespace nimbus::arena {

Session::Session(asio::ip::tcp::socket socket, SessionHost& host, std::int32_t id)
    : label("connection " + std::to_string(id)), socket_(std::move(socket)), host_(host), id_(id) {
    asio::error_code ignored;
    socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
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
    for (std::size_t i = 0; i < n && open_; ++i) {
        const char ch = readBuffer_[i];
        if (ch == '\r') {
            continue;
        }
        if (ch != '\n') {
            if (partial_.size() >= 4096) {
                abort("sent a line over 4096 bytes");
                return;
            }
            partial_.push_back(ch);
            continue;
        }
        std::string line;
        line.swap(partial_);
        if (held_) {
            waitingBytes_ += line.size() + 1;
            if (waitingBytes_ > kMaxPendingReplyBytes) {
                abort("sent more than 1 MiB before the game started");
                return;
            }
            waiting_.push_back(std::move(line));
        } else {
            dispatch(line);
        }
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
