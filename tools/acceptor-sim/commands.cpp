#include "tools/acceptor-sim/commands.h"

#include <charconv>

#include "textfile/printable.h"
#include "textfile/regular_file.h"

namespace norva::sim {

namespace {

constexpr std::string_view kHelp =
    R"(Commands (standard input, one per line, or a --script file; # starts a comment):
  insert N     a note on channel N (1..16) goes into escrow: sends 81 8F and 40+(N-1).
               Refused while the acceptor is disabled, quiet, or already holds a note.
  status XX    answer every poll with the status code XX (STATUS_CODES) from now on,
               also across reset and powerup, as a standing fault would. 20..29 mean
               nothing to the simulator itself; they exist only to be pinned here.
  status auto  answer polls by state again.
  status       show the state.
  raw XX ...   send the hex bytes as given, in one write, whatever the state.
  powerup      power cycle: a note in escrow is handed back, the acceptor comes up disabled
               and talking (a quiet device too), and sends the power-up message 80 8F.
  quiet        a dead device: host bytes are still read and shown, but not answered or acted
               on, and nothing is sent of its own (raw and powerup still go out).
  talk         answer the host again.
  sleep MS     wait MS milliseconds before the next command of the same input.
  help         this text.
  quit         stop the simulator (exit status 0).

How the device answers the host:
  0C poll      the status code of its state: 5E enabled and idle, 3E disabled and idle,
               71 holding a note in escrow; a code pinned with status XX wins over these.
  5E / 3E      enable / disable; no answer. The acceptor starts disabled after every
               power-up, so the host has to enable it before notes can be inserted.
  02           with a note in escrow: stacks it and answers 10. Otherwise no answer (it is
               also the host's acknowledgement of the power-up message).
  0F           with a note in escrow: returns it and answers 11. Otherwise no answer.
  30 reset     like powerup: a note in escrow is handed back, then 80 8F.
  other bytes  ignored (shown, with a note).
A note stays in escrow until the host stacks or returns it, also across disable and enable.
Bytes sent while no host has the pseudo-terminal open wait in its input queue for the next
host to read them, the power-up message at start among them.
)";
;

constexpr long kMaxSleepMs = 24L * 60 * 60 * 1000;
constexpr std::size_t kMaxRawBytes = 4096;

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i]))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && !isBlank(line[i]))
            ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

std::optional<long> Decimal(std::string_view word) {
    long value = 0;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (ec != std::errc() || end != word.data() + word.size()) return std::nullopt;
    return value;
}

// "8F", "8f", "0x8F" or "F".
std::optional<std::uint8_t> HexByte(std::string_view word) {
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        word.remove_prefix(2);
    }
    if (word.empty() || word.size() > 2) return std::nullopt;
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value, 16);
    if (ec != std::errc() || end != word.data() + word.size()) return std::nullopt;
    return static_cast<std::uint8_t>(value);
}

using ParsedLine = Result<std::optional<Command>>;

// The words quoted come from the person or a file: shown escaped.
ParsedLine Fail(const std::string& why) {
    return Outcome::Failed({}, 0, Printable(why));
}
ParsedLine Ok(Command command) {
    return std::optional<Command>(std::move(command));
}

std::string ChannelRange() {
    return "1 to " + std::to_string(kChannels);
}

ParsedLine NoArguments(const std::vector<std::string_view>& words, Command::Kind kind) {
    if (words.size() != 1) return Fail(std::string(words[0]) + " takes no arguments");
    return Ok({kind, 0, {}});
}

}  // namespace

Result<std::optional<Command>> ParseCommandLine(std::string_view line) {
    if (const auto hash = line.find('#'); hash != std::string_view::npos) {
        line = line.substr(0, hash);
    }
    const auto words = Words(line);
    if (words.empty()) return std::optional<Command>();
    const std::string_view verb = words[0];

    if (verb == "insert") {
        if (words.size() != 2) return Fail("insert takes one channel number, " + ChannelRange());
        const auto channel = Decimal(words[1]);
        if (!channel || *channel < 1 || *channel > kChannels)
            return Fail("bad channel '" + std::string(words[1]) + "': expected " + ChannelRange());
        return Ok({Command::Kind::Insert, *channel, {}});
    }
    if (verb == "status") {
        if (words.size() == 1) return Ok({Command::Kind::ShowState, 0, {}});
        if (words.size() != 2) return Fail("status takes one hex code, or auto");
        if (words[1] == "auto") return Ok({Command::Kind::StatusAuto, 0, {}});
        const auto code = HexByte(words[1]);
        if (!code) return Fail("bad status code '" + std::string(words[1]) + "': expected hex");
        if (!wire::IsStatusCode(*code)) {
            return Fail("'" + std::string(words[1]) + "' is not a status code (" +
                        StatusCodesText() + "); raw sends any byte");
        }
        return Ok({Command::Kind::Status, 0, {*code}});
    }
    if (verb == "raw") {
        if (words.size() < 2) return Fail("raw needs at least one hex byte");
        if (words.size() - 1 > kMaxRawBytes) return Fail("raw takes at most 4096 bytes");
        Bytes bytes;
        for (std::size_t i = 1; i < words.size(); ++i) {
            const auto byte = HexByte(words[i]);
            if (!byte) return Fail("bad hex byte '" + std::string(words[i]) + "'");
            bytes.push_back(*byte);
        }
        return Ok({Command::Kind::Raw, 0, std::move(bytes)});
    }
    if (verb == "sleep") {
        if (words.size() != 2) return Fail("sleep takes one number of milliseconds");
        const auto ms = Decimal(words[1]);
        if (!ms || *ms < 0 || *ms > kMaxSleepMs) {
            return Fail("bad time '" + std::string(words[1]) + "': expected 0 to 86400000 ms");
        }
        return Ok({Command::Kind::Sleep, *ms, {}});
    }
    if (verb == "powerup") return NoArguments(words, Command::Kind::PowerUp);
    if (verb == "quiet") return NoArguments(words, Command::Kind::Quiet);
    if (verb == "talk") return NoArguments(words, Command::Kind::Talk);
    if (verb == "help") return NoArguments(words, Command::Kind::Help);
    if (verb == "quit") return NoArguments(words, Command::Kind::Quit);
    return Fail("unknown command '" + std::string(verb) + "' (help lists the commands)");
}

Result<Script> ParseScript(std::string_view text, const std::string& fileName) {
    Script script{fileName, {}};
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const auto newline = text.find('\n');
        const std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        Result<std::optional<Command>> parsed = ParseCommandLine(line);
        if (!parsed.ok())
            return Outcome::Failed(fileName + ":" + std::to_string(lineNumber), 0, parsed.reason());
        if (parsed.value()) script.steps.push_back({lineNumber, std::move(*parsed.value())});
    }
    return script;
}

Result<Script> LoadScript(const std::string& path) {
    OpenFileOptions options;
    options.maxBytes = kMaxScriptBytes;
    const Result<std::string> text = ReadRegularFile(path, options);
    if (!text.ok())
        return Outcome::Failed(path + ": cannot read the script", text.osError(), text.reason());
    return ParseScript(text.value(), path);
}

const std::string& CommandHelp() {
    static const std::string help = [] {
        std::string text(kHelp);
        const std::string_view mark = "STATUS_CODES";
        for (auto at = text.find(mark); at != std::string::npos; at = text.find(mark))
            text.replace(at, mark.size(), StatusCodesText());
        return text;
    }();
    return help;
}

}  // namespace norva::sim
