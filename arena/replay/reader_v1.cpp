#include "arena/replay/reader_v1.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <set>
#include <streambuf>
#include <vector>

#include "arena/limits.hpp"
#include "arena/replay/encoder.hpp"
#include "arena/replay/fields.hpp"

namespace nimbus::arena {

namespace {

// No replay nests deeper (the top, frames, a frame, a cloud) or writes a longer string or number.
constexpr std::size_t kMaxDepth = 8;
constexpr std::size_t kMaxToken = 64 * 1024;

// The text from the source for the JSON parser: cut off (as if it ended) past kMaxReplayV1Bytes
// or where the parser's only buffer would grow past kMaxToken.
class BoundedText : public std::streambuf {
  public:
    BoundedText(ReplaySource& source, std::string start)
        : source_(source), piece_(std::move(start)) {}
    const std::string& why() const { return why_; }

  protected:
    int_type underflow() override {
        if (gptr() < egptr()) {
            return traits_type::to_int_type(*gptr());
        }
        if (!why_.empty() || ((started_ || piece_.empty()) && !source_.nextPiece(piece_))) {
            return traits_type::eof();
        }
        started_ = true;
        total_ += piece_.size();
        if (total_ > kMaxReplayV1Bytes) {
            why_ = "longer than any version-1 replay this arena verifies (" +
                   std::to_string(kMaxReplayV1Bytes) + " bytes of text)";
            return traits_type::eof();
        }
        if (!tokensShort()) {
            why_ = "more than " + std::to_string(kMaxToken) +
                   " bytes in a string or number, or between two, more than any replay holds";
            return traits_type::eof();
        }
        setg(piece_.data(), piece_.data(), piece_.data() + piece_.size());
        return traits_type::to_int_type(piece_[0]);
    }

  private:
    // The parser keeps a string or number whole, and with it what it skipped since the last
    // one (white space, brackets, literals): such a stretch may not be longer than kMaxToken.
    bool tokensShort() {
        for (const char c : piece_) {
            const bool digit = c >= '0' && c <= '9';
            if (inString_) {
                if (escaped_) {
                    escaped_ = false;
                } else if (c == '\\') {
                    escaped_ = true;
                } else if (c == '"') {
                    inString_ = false;
                }
            } else if (c == '"') {
                inString_ = true;
                inNumber_ = false;
                run_ = 0;
            } else if (!inNumber_ && (digit || c == '-')) {
                inNumber_ = true;
                run_ = 0;
            } else if (inNumber_ && !digit && c != '.' && c != 'e' && c != 'E' && c != '+' &&
                       c != '-') {
                inNumber_ = false;
            }
            if (++run_ > kMaxToken) {
                return false;
            }
        }
        return true;
    }

    ReplaySource& source_;
    std::string piece_;
    std::string why_;
    bool started_ = false;
    std::uint64_t total_ = 0;
    bool inString_ = false;
    bool escaped_ = false;
    bool inNumber_ = false;
    std::size_t run_ = 0;
};

// A value rounded to hundredths as the record shows it (h / 100 for a whole h), as h; false when
// it is no such value (or beyond 2^31 hundredths, far beyond any game's positions and masses).
bool hundredths(double v, std::int32_t& k) {
    const double h = std::round(v * 100.0);
    if (!(std::fabs(h) < 2147483647.0) || h / 100.0 != v) {
        return false;
    }
    k = static_cast<std::int32_t>(h);
    return true;
}

// The parser's events (nlohmann's SAX interface) turned into a V1 record as they come.
class Reader {
  public:
    explicit Reader(bool withPlayers) : withPlayers_(withPlayers) {}

    RecordV1 record;
    std::string why;  // why the record is not a replay, when the parse stopped for it

    // A frame's numbers and strings are taken as they are, the few other values as documents.
    bool null() { return inFrames() ? cloudField(kNotNumber, nullptr) : scalar(nullptr); }
    bool boolean(bool v) { return inFrames() ? cloudField(kNotNumber, nullptr) : scalar(v); }
    bool number_integer(std::int64_t v) {
        return inFrames() ? cloudField(static_cast<double>(v), nullptr) : scalar(v);
    }
    bool number_unsigned(std::uint64_t v) {
        return inFrames() ? cloudField(static_cast<double>(v), nullptr) : scalar(v);
    }
    bool number_float(double v, const std::string&) {
        return inFrames() ? cloudField(v, nullptr) : scalar(v);
    }
    bool string(std::string& v) {
        return inFrames() ? cloudField(kNotNumber, &v) : inPrints() ? print(v) : scalar(v);
    }
    bool binary(nlohmann::json::binary_t&) { return refuse("binary data"); }
    bool key(std::string& k) {
        key_ = k;
        return true;
    }
    bool start_object(std::size_t) { return open(true); }
    bool start_array(std::size_t) { return open(false); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::json::exception&) {
        return false;
    }

  private:
    enum class In {
        Top,
        Settings,
        Players,
        Player,
        Frames,
        Frame,
        Cloud,
        Prints,
        Events,
        Event,
        Skip
    };

    static constexpr double kNotNumber = std::numeric_limits<double>::quiet_NaN();
    static constexpr std::initializer_list<const char*> kSettingsKeys = {
        "seed", "ticks", "rainclouds", "players", "tick_ms"};
    static constexpr std::initializer_list<const char*> kPlayerKeys = {"index", "kind", "name",
                                                                       "refused"};
    static constexpr std::initializer_list<const char*> kEventKeys = {"type", "tick", "player",
                                                                      "wx", "wy"};

    bool inFrames() const { return !stack_.empty() && stack_.back() == In::Cloud; }
    bool inPrints() const { return !stack_.empty() && stack_.back() == In::Prints; }

    bool refuse(const std::string& reason) {
        why = reason;
        return false;
    }

    bool isOneOf(std::initializer_list<const char*> keys) const {
        return std::any_of(keys.begin(), keys.end(), [this](const char* k) { return key_ == k; });
    }

    // A player of the list, kept while there are no more than any replay holds; whether it is.
    bool player(nlohmann::json v) {
        nlohmann::json& players = record.top["players"];
        if (players.size() >= static_cast<std::size_t>(kMaxReplayPlayers)) {
            return false;
        }
        players.push_back(std::move(v));
        return true;
    }

    // A number, string, boolean or null where the stack says.
    bool scalar(const nlohmann::json& v) {
        if (stack_.empty()) {
            return true;  // a text that is no object: told after the parse
        }
        switch (stack_.back()) {
            case In::Top:
                if (isOneOf({"format", "version", "end_tick", "end_reason", "settings"}) ||
                    (withPlayers_ && key_ == "players")) {
                    record.top[key_] = v;
                }
                record.framesList = key_ == "frames" ? false : record.framesList;
                record.printsList = key_ == "fingerprints" ? false : record.printsList;
                record.eventsList = key_ == "events" ? false : record.eventsList;
                return true;
            case In::Settings:
                if (isOneOf(kSettingsKeys)) {
                    record.top["settings"][key_] = v;
                }
                return true;
            case In::Players:
                player(v);
                return true;
            case In::Player:
                if (isOneOf(kPlayerKeys)) {
                    record.top["players"].back()[key_] = v;
                }
                return true;
            case In::Frames:
                return refuse("a frame is not a list of clouds");
            case In::Frame:
                return refuse("a cloud is not six fields");
            case In::Cloud:
                return true;  // taken by cloudField
            case In::Prints:
                return refuse("a fingerprint is not 16 hex digits");
            case In::Events:
                return refuse("no \"type\"");
            case In::Event:
                if (isOneOf(kEventKeys)) {
                    event_[key_] = v;
                }
                return true;
            case In::Skip:
                return true;
        }
        return true;
    }

    bool open(bool object) {
        if (stack_.size() >= kMaxDepth) {
            return refuse("nested deeper than any replay");
        }
        if (stack_.empty()) {
            stack_.push_back(object ? In::Top : In::Skip);
            return true;
        }
        switch (stack_.back()) {
            case In::Top:
                return openInTop(object);
            case In::Frames:
                return openFrame(object);
            case In::Frame:
                return openCloud(object);
            case In::Prints:
                return refuse("a fingerprint is not 16 hex digits");
            case In::Events:
                return openEvent(object);
            case In::Players:
                if (player(object ? nlohmann::json::object() : nlohmann::json::array()) && object) {
                    stack_.push_back(In::Player);
                    return true;
                }
                break;
            default:
                nestedValue();
                break;
        }
        stack_.push_back(In::Skip);
        return true;
    }

    // A list or an object where a member holds a number or a string: it stands as an empty list
    // (no such value: refused later), or spoils its frame.
    void nestedValue() {
        switch (stack_.back()) {
            case In::Settings:
                if (isOneOf(kSettingsKeys)) {
                    record.top["settings"][key_] = nlohmann::json::array();
                }
                break;
            case In::Player:
                if (isOneOf(kPlayerKeys)) {
                    record.top["players"].back()[key_] = nlohmann::json::array();
                }
                break;
            case In::Cloud:
                badFrame();
                ++field_;
                break;
            case In::Event:
                if (isOneOf(kEventKeys)) {
                    event_[key_] = nlohmann::json::array();
                }
                break;
            default:
                break;
        }
    }

    bool openFrame(bool object) {
        if (object) {
            return refuse("a frame is not a list of clouds");
        }
        record.frameSizes.push_back(0);
        stack_.push_back(In::Frame);
        return true;
    }

    bool openCloud(bool object) {
        if (object) {
            return refuse("a cloud is not six fields");
        }
        if (record.frameSizes.back() == std::numeric_limits<std::uint16_t>::max()) {
            return refuse("a frame is not a list of clouds");
        }
        ++record.frameSizes.back();
        record.clouds.emplace_back();
        field_ = 0;
        stack_.push_back(In::Cloud);
        return true;
    }

    bool openEvent(bool object) {
        if (!object) {
            return refuse("no \"type\"");
        }
        event_ = nlohmann::json::object();
        stack_.push_back(In::Event);
        return true;
    }

    bool openInTop(bool object) {
        In in = In::Skip;
        bool* list = nullptr;
        if (key_ == "settings") {
            record.top["settings"] = object ? nlohmann::json::object() : nlohmann::json::array();
            in = object ? In::Settings : In::Skip;
        } else if (withPlayers_ && key_ == "players") {
            record.top["players"] = nlohmann::json::array();  // an object: no players
            in = object ? In::Skip : In::Players;
        } else if (key_ == "frames") {
            list = &record.framesList;
            in = In::Frames;
        } else if (key_ == "fingerprints") {
            list = &record.printsList;
            in = In::Prints;
        } else if (key_ == "events") {
            list = &record.eventsList;
            in = In::Events;
        } else if (isOneOf({"format", "version", "end_tick", "end_reason"})) {
            record.top[key_] = nlohmann::json::array();  // no such value: refused later
        }
        if (list != nullptr) {
            if (seen_.count(key_) != 0) {
                return refuse("\"" + key_ + "\" twice");
            }
            seen_.insert(key_);
            *list = !object;
            in = object ? In::Skip : in;
        }
        stack_.push_back(in);
        return true;
    }

    bool close() {
        const In in = stack_.back();
        stack_.pop_back();
        if (in == In::Cloud && field_ != 6) {
            return refuse("a cloud is not six fields");
        }
        if (in == In::Event) {
            return event();
        }
        return true;
    }

    void badFrame() {
        record.firstBadFrame =
            std::min(record.firstBadFrame, static_cast<std::int64_t>(record.frameSizes.size()) - 1);
    }

    // Field field_ of a cloud: a number (NaN for none) or a string.
    bool cloudField(double number, const std::string* text) {
        if (field_ >= 6) {
            return refuse("a cloud is not six fields");
        }
        FrameCloud& c = record.clouds.back();
        const bool whole = number == std::floor(number);
        bool fits = false;
        switch (field_++) {
            case 0:
                fits = whole && number >= 0 && number <= kMaxFrameCloudId;
                c.idKind |= static_cast<std::uint16_t>(fits ? number : 0);
                break;
            case 1:
                fits = text != nullptr && (*text == "T" || *text == "R");
                c.idKind |= fits && *text == "T" ? kFrameThunderstorm : 0;
                break;
            case 2:
                fits = whole && number >= -32768 && number <= 32767;
                c.owner = static_cast<std::int16_t>(fits ? number : 0);
                break;
            case 3:
                fits = hundredths(number, c.x);
                break;
            case 4:
                fits = hundredths(number, c.y);
                break;
            default:
                fits = hundredths(number, c.mass);
        }
        if (!fits) {
            badFrame();
        }
        return true;
    }

    bool print(const std::string& text) {
        if (text.size() != 16) {
            return refuse("a fingerprint is not 16 hex digits");
        }
        std::uint64_t value = 0;
        for (const char c : text) {
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                     : -1;
            if (digit < 0) {
                record.firstBadPrint =
                    std::min(record.firstBadPrint, static_cast<std::int64_t>(record.prints.size()));
            }
            value = value << 4 | static_cast<std::uint64_t>(digit < 0 ? 0 : digit);
        }
        record.prints.push_back(value);
        return true;
    }

    // An event whose members are all read: a wind is kept, any other only checked for its type.
    bool event() {
        try {
            if (field(event_, "type") != "wind") {
                return true;
            }
            record.winds.push_back(
                {static_cast<std::int32_t>(
                     integerIn(field(event_, "tick"), "a wind's tick", 0, kMaxReplayTicks)),
                 static_cast<std::int32_t>(integerIn(field(event_, "player"), "a wind's player", 0,
                                                     kMaxReplayPlayers - 1)),
                 finiteFloat(field(event_, "wx"), "a wind's wx"),
                 finiteFloat(field(event_, "wy"), "a wind's wy")});
        } catch (const NotAReplay& e) {
            return refuse(e.reason);
        }
        return true;
    }

    bool withPlayers_;
    std::vector<In> stack_;
    std::string key_;
    std::set<std::string> seen_;
    nlohmann::json event_;
    int field_ = 0;
};

}  // namespace

void orderByTick(std::deque<WindEvent>& winds) {
    std::stable_sort(winds.begin(), winds.end(),
                     [](const WindEvent& a, const WindEvent& b) { return a.tick < b.tick; });
}

Version1Read readVersion1(ReplaySource& source, std::string start, bool withPlayers) {
    BoundedText text(source, std::move(start));
    Reader reader(withPlayers);
    Version1Read read;
    bool parsed = false;
    try {
        parsed = nlohmann::json::sax_parse(std::istreambuf_iterator<char>(&text),
                                           std::istreambuf_iterator<char>(), &reader);
    } catch (const std::exception& e) {
        read.problem = e.what();
        return read;
    }
    read.ours =
        reader.record.top.contains("format") && reader.record.top["format"] == kReplayFormat;
    const ReplaySource::Next how = source.ending();
    if (how == ReplaySource::Next::Damaged ||
        (how == ReplaySource::Next::Cut && text.why().empty())) {
        read.damaged = true;
        read.problem = std::string(how == ReplaySource::Next::Cut ? "the file is incomplete: "
                                                                  : "the file is damaged: ") +
                       source.problem();
    } else if (!text.why().empty()) {
        read.problem = text.why();
    } else if (!parsed) {
        read.problem = !reader.why.empty() ? reader.why : "it is neither JSON nor JSON lines";
    }
    read.record = std::move(reader.record);
    return read;
}

}  // namespace nimbus::arena
