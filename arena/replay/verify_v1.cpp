// Version-1 replays (one JSON text, written whole by earlier arenas): its keys come in
// alphabetical order, so the settings follow the frames. The text is read as a stream, at most
// kMaxReplayV1Bytes of it, and what verification needs is kept compactly (a cloud of a frame in
// 16 bytes, no more than its text takes), so memory stays within the text cap whatever the file.
#include <algorithm>
#include <cmath>
#include <deque>
#include <iterator>
#include <limits>
#include <set>
#include <streambuf>
#include <vector>

#include "arena/replay/verify_lines.hpp"
#include "arena/replay/encoder.hpp"
#include "arena/limits.hpp"

namespace nimbus::arena {

namespace {

// No replay nests deeper (the top, frames, a frame, a cloud) or writes a longer string or number.
constexpr std::size_t kMaxDepth = 8;
constexpr std::size_t kMaxToken = 64 * 1024;
constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

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

// A cloud of a frame, [id, kind, owner, x, y, mass] with the numbers rounded to hundredths: the
// hundredths, the id with the kind in its top bit.
struct FrameCloud {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t mass = 0;
    std::uint16_t idKind = 0;
    std::int16_t owner = 0;
};
constexpr std::uint16_t kThunderstorm = 0x8000;
constexpr std::int64_t kMaxId = 0x7fff;

struct Wind {
    std::int32_t tick;
    std::int32_t player;
    float wx;
    float wy;
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

bool sameCloud(const Cloud& c, const FrameCloud& f) {
    // The record rounds each value to hundredths: v rounds to (a double of) h / 100.
    auto same = [](float v, std::int32_t h) {
        return std::round(static_cast<double>(v) * 100.0) == static_cast<double>(h);
    };
    const auto idKind =
        static_cast<std::uint16_t>(c.id | (c.kind == CloudKind::Thunderstorm ? kThunderstorm : 0));
    return c.id <= kMaxId && f.idKind == idKind && f.owner == c.owner && same(c.state.x, f.x) &&
           same(c.state.y, f.y) && same(c.state.mass, f.mass);
}

// The parser's events (nlohmann's SAX interface) turned into a V1 record as they come.
class Reader {
  public:
    // What the record says, compactly.
    nlohmann::json top = nlohmann::json::object();  // format, version, end_tick, end_reason, settings
    std::deque<FrameCloud> clouds;
    std::deque<std::uint16_t> frameSizes;
    std::deque<std::uint64_t> prints;
    std::deque<Wind> winds;
    std::int64_t firstBadFrame = kNever;  // the first frame no game can show
    std::int64_t firstBadPrint = kNever;  // the first fingerprint that is no lower-case hex
    bool framesList = false;
    bool printsList = false;
    bool eventsList = false;
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
    enum class In { Top, Settings, Frames, Frame, Cloud, Prints, Events, Event, Skip };

    static constexpr double kNotNumber = std::numeric_limits<double>::quiet_NaN();

    bool inFrames() const { return !stack_.empty() && stack_.back() == In::Cloud; }
    bool inPrints() const { return !stack_.empty() && stack_.back() == In::Prints; }

    bool refuse(const std::string& reason) {
        why = reason;
        return false;
    }

    bool isOneOf(std::initializer_list<const char*> keys) const {
        return std::any_of(keys.begin(), keys.end(), [this](const char* k) { return key_ == k; });
    }

    // A number, string, boolean or null where the stack says.
    bool scalar(const nlohmann::json& v) {
        if (stack_.empty()) {
            return true;  // a text that is no object: told after the parse
        }
        switch (stack_.back()) {
            case In::Top:
                if (isOneOf({"format", "version", "end_tick", "end_reason", "settings"})) {
                    top[key_] = v;
                }
                framesList = key_ == "frames" ? false : framesList;
                printsList = key_ == "fingerprints" ? false : printsList;
                eventsList = key_ == "events" ? false : eventsList;
                return true;
            case In::Settings:
                if (isOneOf({"seed", "ticks", "rainclouds", "players"})) {
                    top["settings"][key_] = v;
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
                if (isOneOf({"type", "tick", "player", "wx", "wy"})) {
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
            case In::Settings:
                if (isOneOf({"seed", "ticks", "rainclouds", "players"})) {
                    top["settings"][key_] = nlohmann::json::array();  // no number: refused later
                }
                break;
            case In::Frames:
                if (object) {
                    return refuse("a frame is not a list of clouds");
                }
                frameSizes.push_back(0);
                stack_.push_back(In::Frame);
                return true;
            case In::Frame:
                if (object) {
                    return refuse("a cloud is not six fields");
                }
                if (frameSizes.back() == std::numeric_limits<std::uint16_t>::max()) {
                    return refuse("a frame is not a list of clouds");
                }
                ++frameSizes.back();
                clouds.emplace_back();
                field_ = 0;
                stack_.push_back(In::Cloud);
                return true;
            case In::Cloud:
                badFrame();
                ++field_;
                break;
            case In::Prints:
                return refuse("a fingerprint is not 16 hex digits");
            case In::Events:
                if (!object) {
                    return refuse("no \"type\"");
                }
                event_ = nlohmann::json::object();
                stack_.push_back(In::Event);
                return true;
            case In::Event:
                if (isOneOf({"type", "tick", "player", "wx", "wy"})) {
                    event_[key_] = nlohmann::json::array();  // no number: refused later
                }
                break;
            case In::Skip:
                break;
        }
        stack_.push_back(In::Skip);
        return true;
    }

    bool openInTop(bool object) {
        In in = In::Skip;
        bool* list = nullptr;
        if (key_ == "settings") {
            top["settings"] = object ? nlohmann::json::object() : nlohmann::json::array();
            in = object ? In::Settings : In::Skip;
        } else if (key_ == "frames") {
            list = &framesList;
            in = In::Frames;
        } else if (key_ == "fingerprints") {
            list = &printsList;
            in = In::Prints;
        } else if (key_ == "events") {
            list = &eventsList;
            in = In::Events;
        } else if (isOneOf({"format", "version", "end_tick", "end_reason"})) {
            top[key_] = nlohmann::json::array();  // no such value: refused later
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
        firstBadFrame = std::min(firstBadFrame, static_cast<std::int64_t>(frameSizes.size()) - 1);
    }

    // Field field_ of a cloud: a number (NaN for none) or a string.
    bool cloudField(double number, const std::string* text) {
        if (field_ >= 6) {
            return refuse("a cloud is not six fields");
        }
        FrameCloud& c = clouds.back();
        const bool whole = number == std::floor(number);
        bool fits = false;
        switch (field_++) {
            case 0:
                fits = whole && number >= 0 && number <= kMaxId;
                c.idKind |= static_cast<std::uint16_t>(fits ? number : 0);
                break;
            case 1:
                fits = text != nullptr && (*text == "T" || *text == "R");
                c.idKind |= fits && *text == "T" ? kThunderstorm : 0;
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
                firstBadPrint = std::min(firstBadPrint, static_cast<std::int64_t>(prints.size()));
            }
            value = value << 4 | static_cast<std::uint64_t>(digit < 0 ? 0 : digit);
        }
        prints.push_back(value);
        return true;
    }

    // An event whose members are all read: a wind is kept, any other only checked for its type.
    bool event() {
        try {
            if (field(event_, "type") != "wind") {
                return true;
            }
            winds.push_back(
                {static_cast<std::int32_t>(
                     integerIn(field(event_, "tick"), "a wind's tick", 0, kMaxReplayTicks)),
                 static_cast<std::int32_t>(integerIn(field(event_, "player"), "a wind's player",
                                                     0, kMaxReplayPlayers - 1)),
                 finiteFloat(field(event_, "wx"), "a wind's wx"),
                 finiteFloat(field(event_, "wy"), "a wind's wy")});
        } catch (const NotAReplay& e) {
            return refuse(e.reason);
        }
        return true;
    }

    std::vector<In> stack_;
    std::string key_;
    std::set<std::string> seen_;
    nlohmann::json event_;
    int field_ = 0;
};

// The record against the re-run game: settings, shapes and winds checked first, then every tick.
VerifyReport check(Reader& r) {
    const nlohmann::json& top = r.top;
    if (!top.contains("version") || top["version"] != 1 || !top.contains("format") ||
        top["format"] != kReplayFormat) {
        return notReplay("no \"format\": \"" + std::string(kReplayFormat) +
                         "\" of version 1 or 2");
    }
    const GameSettings settings = settingsOf(top);
    const auto endTick = static_cast<std::int32_t>(
        integerIn(field(top, "end_tick"), "end_tick", 0, settings.ticks));
    if (!r.framesList || !r.printsList ||
        r.frameSizes.size() != static_cast<std::size_t>(endTick) + 1 ||
        r.prints.size() != r.frameSizes.size()) {
        throw NotAReplay{"settings, end tick and frames disagree"};
    }
    const auto clouds = static_cast<std::size_t>(settings.players + settings.rainclouds);
    if (std::any_of(r.frameSizes.begin(), r.frameSizes.end(),
                    [clouds](std::size_t n) { return n > clouds; })) {
        throw NotAReplay{"a frame is not a list of clouds"};
    }
    if (!r.eventsList) {
        throw NotAReplay{"events is not a list"};
    }
    for (const Wind& w : r.winds) {
        if (w.tick > endTick) {
            throw NotAReplay{"a wind's tick is not an integer from 0 to " + std::to_string(endTick)};
        }
        if (w.player >= settings.players) {
            throw NotAReplay{"a wind's player is not an integer from 0 to " +
                             std::to_string(settings.players - 1)};
        }
    }
    const nlohmann::json& reason = field(top, "end_reason");
    if (!reason.is_string()) {
        throw NotAReplay{"end_reason is not a string"};
    }
    std::stable_sort(r.winds.begin(), r.winds.end(),
                     [](const Wind& a, const Wind& b) { return a.tick < b.tick; });

    Game game(settings);
    std::size_t cloud = 0;
    std::size_t wind = 0;
    for (std::int32_t t = 0;; ++t) {
        const std::size_t count = r.frameSizes[t];
        bool same = t < r.firstBadFrame && t < r.firstBadPrint && game.clouds().size() == count &&
                    game.fingerprint() == r.prints[t];
        for (std::size_t i = 0; same && i < count; ++i) {
            same = sameCloud(game.clouds()[i], r.clouds[cloud + i]);
        }
        if (!same) {
            return mismatch(t, "tick " + std::to_string(t) + " differs from the record");
        }
        cloud += count;
        if (t == endTick) {
            break;
        }
        if (game.over()) {
            return mismatch(t, "the re-run game ended at tick " + std::to_string(t));
        }
        for (; wind < r.winds.size() && r.winds[wind].tick == t; ++wind) {
            const Wind& w = r.winds[wind];
            if (!game.queueWind(w.player, w.wx, w.wy).accepted) {
                return mismatch(t, "a wind at tick " + std::to_string(t) + " was refused");
            }
        }
        game.step();
    }
    if (reason != endReasonOf(game)) {
        return mismatch(endTick, "the end reason " + reason.dump() + " is not the re-run game's \"" +
                                     endReasonOf(game) + "\"");
    }
    VerifyReport report;
    report.ok = true;
    report.ticksChecked = endTick;
    report.message = "all " + std::to_string(endTick) + " ticks match";
    return report;
}

}  // namespace

VerifyReport verifyVersion1(ReplaySource& source, std::string start, bool& ours) {
    BoundedText text(source, std::move(start));
    Reader reader;
    bool parsed = false;
    try {
        parsed = nlohmann::json::sax_parse(std::istreambuf_iterator<char>(&text),
                                           std::istreambuf_iterator<char>(), &reader);
    } catch (const std::exception& e) {
        return notReplay(e.what());
    }
    ours = reader.top.contains("format") && reader.top["format"] == kReplayFormat;
    const ReplaySource::Next how = source.ending();
    if (how == ReplaySource::Next::Damaged || (how == ReplaySource::Next::Cut && text.why().empty())) {
        // A replay of ours that is damaged fails; anything else damaged is no replay.
        const std::string why = std::string(how == ReplaySource::Next::Cut ? "the file is incomplete: "
                                                                           : "the file is damaged: ") +
                                source.problem();
        return ours ? mismatch(0, why) : notReplay(why);
    }
    if (!text.why().empty()) {
        return notReplay(text.why());
    }
    if (!parsed) {
        return notReplay(!reader.why.empty() ? reader.why : "it is neither JSON nor JSON lines");
    }
    try {
        return check(reader);
    } catch (const NotAReplay& e) {
        return notReplay(e.reason);
    } catch (const std::exception& e) {
        return notReplay(e.what());
    }
}

}  // namespace nimbus::arena
