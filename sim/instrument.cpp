#include "sim/instrument.h"

#include "sim/types.h"

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <vector>

namespace sim {

// ---------------------------------------------------------------- log

MessageLog::~MessageLog()
{
    if (file_)
        std::fclose(file_);
}

bool MessageLog::open(const std::string& path)
{
    file_ = std::fopen(path.c_str(), "a");
    return file_ != nullptr;
}

std::string MessageLog::escape(const std::string& message)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(message.size() + 8);
    for (unsigned char c : message) {
        switch (c) {
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\\': out += "\\\\"; break;
        default:
            if (c >= 0x20 && c < 0x7f) {
                out += char(c);
            } else {
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 15];
            }
        }
    }
    return out;
}

void MessageLog::write(const std::string& message)
{
    if (!file_)
        return;
    std::string line = escape(message) + "\n";
    std::lock_guard<std::mutex> lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
}

// ---------------------------------------------------------------- helpers

namespace {

std::string upper(std::string s)
{
    for (char& c : s)
        c = char(std::toupper((unsigned char)c));
    return s;
}

std::string trim(const std::string& s)
{
    size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos)
        return std::string();
    size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

std::string unquote(const std::string& s)
{
    if (s.size() >= 2 && (s[0] == '\'' || s[0] == '"') && s.back() == s[0])
        return s.substr(1, s.size() - 2);
    return s;
}

// Splits at commas outside quotes; each part trimmed.
std::vector<std::string> splitArgs(const std::string& params)
{
    std::vector<std::string> out;
    if (trim(params).empty())
        return out;
    std::string cur;
    char quote = 0;
    for (char c : params) {
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == ',') {
            out.push_back(trim(cur));
            cur.clear();
            continue;
        }
        cur += c;
    }
    out.push_back(trim(cur));
    return out;
}

// A list "A,B,C" holds word w (any case)?
bool listHas(const char* list, const std::string& w)
{
    std::string l = std::string(",") + list + ",";
    return !w.empty() && w.find(',') == std::string::npos && l.find("," + upper(w) + ",") != std::string::npos;
}

std::string firstWord(const char* list)
{
    const char* comma = std::strchr(list, ',');
    return comma ? std::string(list, comma) : std::string(list);
}

// Decimal number with an optional unit suffix; SCPI reads "M" as milli
// except in "MHZ".
bool parseNumber(const std::string& text, double* value)
{
    struct Unit { const char* name; double scale; };
    static const Unit units[] = {{"", 1},     {"HZ", 1},    {"KHZ", 1e3}, {"MHZ", 1e6}, {"GHZ", 1e9}, {"S", 1},
                                 {"MS", 1e-3}, {"US", 1e-6}, {"NS", 1e-9}, {"V", 1},     {"MV", 1e-3}, {"DB", 1},
                                 {"DBM", 1}};
    std::string t = trim(text);
    if (t.empty())
        return false;
    char* end = nullptr;
    double v = std::strtod(t.c_str(), &end);
    if (end == t.c_str() || !std::isfinite(v))
        return false;
    std::string unit = upper(trim(end));
    for (const Unit& u : units) {
        if (unit == u.name) {
            *value = v * u.scale;
            return true;
        }
    }
    return false;
}

bool parseInteger(const std::string& text, int64_t* value)
{
    double v;
    if (!parseNumber(text, &v) || v != std::floor(v) || std::fabs(v) > 9.0e18)
        return false;
    *value = int64_t(v);
    return true;
}

std::string number(double v)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.12g", v);
    return buf;
}

// IEEE 488.2 definite-length header; lengths beyond nine digits use the
// "#(n)" form that the acquisition reads for records of 1 GB and more.
std::string blockHeader(uint64_t n)
{
    std::string digits = std::to_string(n);
    if (n >= 1000000000ull)
        return "#(" + digits + ")";
    return "#" + std::to_string(digits.size()) + digits;
}

std::shared_ptr<const Pattern> makePattern(int period, uint8_t first, int stride)
{
    std::vector<uint8_t> p(static_cast<size_t>(period));
    for (int k = 0; k < period; ++k)
        p[size_t(k)] = uint8_t(first + k * stride);
    return std::make_shared<Pattern>(p);
}

const std::map<int, const char*>& errorTexts()
{
    static const std::map<int, const char*> m = {
        {-102, "Syntax error"},
        {-108, "Parameter not allowed"},
        {-109, "Missing parameter"},
        {-113, "Undefined header"},
        {-114, "Header suffix out of range"},
        {-221, "Settings conflict"},
        {-222, "Data out of range"},
        {-224, "Illegal parameter value"},
        {-230, "Data corrupt or stale"},
        {-256, "File name not found"},
        {-350, "Queue overflow"},
    };
    return m;
}

constexpr size_t kErrorQueue = 10;
constexpr uint64_t kMaxTestBlock = uint64_t(1) << 40;
constexpr int32_t kRecordingClock = 640000;
constexpr int kChannels = 4;
const char* const kRecordDir = "\\Storage Card\\Yew";

// One node of a header pattern: short and long form, optional, numeric suffix.
struct Node {
    std::string shortForm, longForm;
    bool optional = false;
    bool suffix = false;
};

std::vector<Node> parsePattern(const char* pattern)
{
    std::vector<Node> nodes;
    std::string p = pattern;
    size_t pos = 0;
    while (pos <= p.size()) {
        size_t colon = p.find(':', pos);
        std::string part = p.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos);
        Node n;
        if (!part.empty() && part.front() == '[') {
            n.optional = true;
            part = part.substr(1, part.size() - 2);
        }
        if (!part.empty() && part.back() == '#') {
            n.suffix = true;
            part.pop_back();
        }
        for (char c : part)
            if (!std::islower((unsigned char)c))
                n.shortForm += c;
        n.longForm = upper(part);
        nodes.push_back(n);
        if (colon == std::string::npos)
            break;
        pos = colon + 1;
    }
    return nodes;
}

} // namespace

// ---------------------------------------------------------------- engine

struct Instrument::Engine {
    struct Call;
    using Handler = void (Engine::*)(Call&);
    enum Access { Set = 1, Query = 2, Both = 3 };

    // A command: its header pattern, the groups a type needs for it, whether
    // it may be set and/or queried, and the handler with its setting's key,
    // words and default.
    struct Command {
        const char* pattern;
        unsigned groups;
        int access;
        Handler handler;
        const char* key;
        const char* words; // word settings: the accepted words, the first is the default
        double value;      // number settings: the default
        double lo, hi;     // number settings: accepted range when lo < hi
    };

    struct Call {
        const Command* command;
        bool query;
        long suffix;
        std::string params;
        std::vector<std::string> args;
        Reply* reply;
        bool* answered;
        bool opened = false;
        void open()
        {
            if (!opened && *answered)
                reply->text(";");
            opened = true;
            *answered = true;
        }
        void put(const std::string& s)
        {
            open();
            reply->text(s);
        }
        void gen(std::shared_ptr<const Pattern> p, uint64_t start, uint64_t n)
        {
            open();
            reply->generated(std::move(p), start, n);
        }
    };

    struct File {
        std::string dir, name;
        uint64_t samples;
        uint64_t size() const { return kRecordingHeader + samples * 4; }
    };

    Settings settings;
    const TypeRow& row;
    std::vector<std::vector<Node>> patterns;
    std::deque<std::pair<int, std::string>> errors;
    uint8_t esr = 0, ese = 0, sre = 0;
    std::map<std::string, double> numbers;
    std::map<std::string, std::string> words;
    // Trace set-up
    double setupBandwidth = 0, setupRate = 0;
    std::string setupTrigger, setupSlope;
    int64_t setupPretrigger = 0;
    uint64_t setupCount = 0;
    bool realFormat = false;
    // Recording and mass memory
    bool recording = false;
    std::chrono::steady_clock::time_point recordStart;
    int recordNumber = 0;
    std::string cwd = "\\";
    std::vector<std::string> dirs = {"\\", "\\Storage Card", kRecordDir};
    std::vector<File> files;
    // Oscilloscope
    bool acquired = false;
    // Signals
    std::shared_ptr<const Pattern> pairs, onlyI, onlyQ, recordingTone, testBlock, testIndef, testText;

    static const std::vector<Command>& commands();

    explicit Engine(const Settings& s) : settings(s), row(typeRow(s.type))
    {
        for (const Command& c : commands())
            patterns.push_back(parsePattern(c.pattern));
        pairs = floatTone(row.amplitude, Channel::Both);
        onlyI = floatTone(row.amplitude, Channel::I);
        onlyQ = floatTone(row.amplitude, Channel::Q);
        recordingTone = int16Tone(row.amplitude);
        testBlock = makePattern(251, 0, 1);
        testIndef = makePattern(90, 0x20, 1);
        testText = makePattern(26, 'A', 1);
        reset();
    }

    // State after power-on and "*RST"; the mass memory survives both.
    void reset()
    {
        numbers.clear();
        words.clear();
        setupBandwidth = 10e6;
        setupRate = 32e6;
        setupTrigger = firstWord(row.triggers);
        setupSlope = firstWord(row.slopes);
        setupPretrigger = 0;
        setupCount = std::min<uint64_t>(1000, row.maxSamples);
        realFormat = false;
        recording = false;
        acquired = false;
    }

    // SCPI error queue: at most kErrorQueue entries, the last replaced by
    // -350 when it overflows; each error also sets its event status bit.
    void error(int code)
    {
        if (errors.size() >= kErrorQueue) {
            errors.back() = {-350, errorTexts().at(-350)};
            return;
        }
        errors.push_back({code, errorTexts().at(code)});
        // Standard event status: command, execution, device-specific errors.
        esr |= code <= -100 && code > -200 ? 0x20 : code <= -200 && code > -300 ? 0x10 : 0x08;
    }

    static std::string errorText(const std::pair<int, std::string>& e)
    {
        return std::to_string(e.first) + ",\"" + e.second + "\"";
    }

    // Matches one header node (uppercased, without "?") against a pattern node.
    static bool nodeMatches(const Node& n, const std::string& h, long* suffix)
    {
        std::string name = h;
        if (n.suffix) {
            size_t d = name.find_last_not_of("0123456789");
            if (d != std::string::npos && d + 1 < name.size()) {
                if (name.size() - d - 1 > 6)
                    return false;
                *suffix = std::atol(name.c_str() + d + 1);
                name = name.substr(0, d + 1);
            }
        }
        return name == n.shortForm || name == n.longForm;
    }

    static bool matches(const std::vector<Node>& p, size_t pi, const std::vector<std::string>& h, size_t hi, long* suffix)
    {
        if (pi == p.size())
            return hi == h.size();
        if (p[pi].optional && matches(p, pi + 1, h, hi, suffix))
            return true;
        return hi < h.size() && nodeMatches(p[pi], h[hi], suffix) && matches(p, pi + 1, h, hi + 1, suffix);
    }

    // Splits a message into its commands at ";" outside quotes and blocks.
    static std::vector<std::string> splitCommands(const std::string& m)
    {
        std::vector<std::string> out;
        std::string cur;
        size_t k = 0;
        char quote = 0;
        while (k < m.size()) {
            char c = m[k];
            if (quote) {
                if (c == quote)
                    quote = 0;
            } else if (c == '\'' || c == '"') {
                quote = c;
            } else if (c == ';') {
                out.push_back(cur);
                cur.clear();
                ++k;
                continue;
            } else if (c == '#' && k + 1 < m.size() && m[k + 1] >= '1' && m[k + 1] <= '9') {
                size_t d = size_t(m[k + 1] - '0');
                uint64_t len = 0;
                for (size_t j = 0; j < d && k + 2 + j < m.size(); ++j)
                    len = len * 10 + uint64_t(std::isdigit((unsigned char)m[k + 2 + j]) ? m[k + 2 + j] - '0' : 0);
                size_t n = size_t(std::min<uint64_t>(2 + d + len, m.size() - k));
                cur.append(m, k, n);
                k += n;
                continue;
            }
            cur += c;
            ++k;
        }
        out.push_back(cur);
        return out;
    }

    // Executes one command of a message. Every command is taken from the
    // root of the header tree, as the acquisition writes them; a header
    // that no command of this type matches is an undefined header.
    void run(const std::string& unit, Reply* reply, bool* answered)
    {
        std::string u = trim(unit);
        if (u.empty())
            return;
        size_t ws = u.find_first_of(" \t");
        std::string header = upper(u.substr(0, ws));
        std::string params = ws == std::string::npos ? std::string() : trim(u.substr(ws));
        bool query = !header.empty() && header.back() == '?';
        if (query)
            header.pop_back();
        if (!header.empty() && header.front() == ':')
            header.erase(0, 1);
        std::vector<std::string> nodes;
        size_t pos = 0;
        while (true) {
            size_t colon = header.find(':', pos);
            nodes.push_back(header.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos));
            if (colon == std::string::npos)
                break;
            pos = colon + 1;
        }
        const std::vector<Command>& table = commands();
        for (size_t i = 0; i < table.size(); ++i) {
            const Command& c = table[i];
            long suffix = 1;
            if ((c.groups & row.groups) == 0 || !(c.access & (query ? Query : Set)) ||
                !matches(patterns[i], 0, nodes, 0, &suffix))
                continue;
            Call call{&c, query, suffix, params, splitArgs(params), reply, answered};
            (this->*c.handler)(call);
            return;
        }
        error(-113);
    }

    // ------------------------------------------------------------ handlers

    // Generic word setting; "1"/"0" stand for "ON"/"OFF".
    void word(Call& c)
    {
        std::string key = std::string(c.command->key) + (c.suffix != 1 ? std::to_string(c.suffix) : "");
        if (!suffixOk(c))
            return;
        if (c.query) {
            auto it = words.find(key);
            c.put(it == words.end() ? firstWord(c.command->words) : it->second);
            return;
        }
        if (c.args.size() != 1)
            return error(c.args.empty() ? -109 : -108);
        std::string w = upper(c.args[0]);
        if (listHas(c.command->words, "ON") && (w == "1" || w == "0"))
            w = w == "1" ? "ON" : "OFF";
        if (!listHas(c.command->words, w))
            return error(-224);
        words[key] = w;
    }

    // Generic number setting.
    void num(Call& c)
    {
        std::string key = std::string(c.command->key) + (c.suffix != 1 ? std::to_string(c.suffix) : "");
        if (!suffixOk(c))
            return;
        if (c.query) {
            auto it = numbers.find(key);
            c.put(number(it == numbers.end() ? defaultNumber(*c.command) : it->second));
            return;
        }
        double v;
        if (c.args.size() != 1)
            return error(c.args.empty() ? -109 : -108);
        if (!parseNumber(c.args[0], &v))
            return error(-224);
        if (c.command->lo < c.command->hi && (v < c.command->lo || v > c.command->hi))
            return error(-222);
        numbers[key] = v;
    }

    double defaultNumber(const Command& c) const
    {
        return std::strcmp(c.key, "bwid") == 0 ? settings.bandwidth : c.value;
    }

    bool suffixOk(Call& c)
    {
        if (!isChannelCommand(c))
            return c.suffix == 1 || (error(-114), false);
        if (c.suffix < 1 || c.suffix > kChannels)
            return error(-114), false;
        return true;
    }

    static bool isChannelCommand(const Call& c) { return std::strchr(c.command->pattern, '#') != nullptr; }

    std::string wordOf(const char* key, const char* list)
    {
        auto it = words.find(key);
        return it == words.end() ? firstWord(list) : it->second;
    }

    void idn(Call& c)
    {
        c.put(settings.idn.empty() ? std::string("Halvard,") + row.name + ",100001/001,1.0" : settings.idn);
    }
    void opt(Call& c) { c.put(settings.options.empty() ? row.options : settings.options); }
    void cls(Call&)
    {
        errors.clear();
        esr = 0;
    }
    void rst(Call&) { reset(); }
    void opc(Call& c)
    {
        if (c.query)
            c.put("1");
        else
            esr |= 0x01;
    }
    void nothing(Call&) {}
    void esrQuery(Call& c)
    {
        c.put(std::to_string(esr));
        esr = 0;
    }
    void stb(Call& c) { c.put(std::to_string(status(false))); }
    void enable(Call& c)
    {
        uint8_t& reg = std::strcmp(c.command->key, "ese") == 0 ? ese : sre;
        int64_t v;
        if (c.query)
            return c.put(std::to_string(reg));
        if (c.args.size() != 1 || !parseInteger(c.args[0], &v) || v < 0 || v > 255)
            return error(c.args.empty() ? -109 : -224);
        reg = uint8_t(v);
    }
    void nextError(Call& c)
    {
        if (errors.empty())
            return c.put("0,\"No error\"");
        c.put(errorText(errors.front()));
        errors.pop_front();
    }
    void allErrors(Call& c)
    {
        if (errors.empty())
            return c.put("0,\"No error\"");
        std::string s;
        for (const auto& e : errors)
            s += (s.empty() ? "" : ",") + errorText(e);
        errors.clear();
        c.put(s);
    }
    void clearErrors(Call&) { errors.clear(); }

    void inputSelect(Call& c)
    {
        if (c.query)
            return c.put(wordOf("inpsel", row.inputs));
        if (c.args.size() != 1)
            return error(c.args.empty() ? -109 : -108);
        if (!listHas(row.inputs, c.args[0]))
            return error(-224);
        words["inpsel"] = upper(c.args[0]);
    }

    void format(Call& c)
    {
        if (c.query)
            return c.put(realFormat ? "REAL,32" : "ASC,0");
        std::vector<std::string> a = c.args;
        if (a.empty())
            return error(-109);
        std::string f = upper(a[0]);
        if ((f == "REAL" && (a.size() == 1 || a[1] == "32")) && a.size() <= 2)
            realFormat = true;
        else if ((f == "ASC" || f == "ASCII") && a.size() <= 2)
            realFormat = false;
        else
            return error(-224);
    }

    void traceSetup(Call& c)
    {
        if (c.query) {
            return c.put(std::string(row.setupForm) + "," + number(setupBandwidth) + "," + number(setupRate) + "," +
                         setupTrigger + "," + setupSlope + "," + std::to_string(setupPretrigger) + "," +
                         std::to_string(setupCount));
        }
        const std::vector<std::string>& a = c.args;
        if (a.size() < 7)
            return error(-109);
        if (a.size() > 7)
            return error(-108);
        double bw, rate;
        if (upper(a[0]) != row.setupForm || !listHas(row.triggers, a[3]) || !listHas(row.slopes, a[4]))
            return error(-224);
        if (!parseNumber(a[1], &bw) || !parseNumber(a[2], &rate) || bw <= 0 || rate <= 0)
            return error(-224);
        int64_t pre = 0;
        uint64_t count;
        if (std::strcmp(row.setupForm, "RAW") == 0) {
            // Trigger offset and record length are times; the length sets the count.
            double offset, length;
            if (!parseNumber(a[5], &offset) || !parseNumber(a[6], &length))
                return error(-224);
            double n = std::floor(rate * length + 0.5);
            if (!(n >= 1 && n <= double(row.maxSamples)))
                return error(-222);
            count = uint64_t(n);
        } else {
            int64_t n;
            if (!parseInteger(a[5], &pre) || !parseInteger(a[6], &n))
                return error(-224);
            if (pre < row.pretriggerMin || pre > row.pretriggerMax || n < 1 || uint64_t(n) > row.maxSamples)
                return error(-222);
            count = uint64_t(n);
        }
        setupBandwidth = bw;
        setupRate = rate;
        setupTrigger = upper(a[3]);
        setupSlope = upper(a[4]);
        setupPretrigger = pre;
        setupCount = count;
    }

    // --oversize: half the announced length again plus two pairs, so that a
    // reader trusting the header finds data where the line feed should be.
    uint64_t extra(uint64_t n) const { return settings.oversize ? 16 + (n / 2 & ~uint64_t(7)) : 0; }

    // Like the real instruments, the trace must be on and the format binary;
    // a sequence that forgets either gets no data and an error, not a
    // silently different answer. Types that know "TRAC:IQ:DATA:FORM" send
    // I and Q blocks until IQP is chosen.
    void traceData(Call& c)
    {
        if (wordOf("traciq", "OFF,ON") != "ON" || !realFormat)
            return error(-221);
        const uint64_t n = setupCount * 8;
        c.put(blockHeader(n));
        bool asPairs = row.layout == Layout::Pairs && (!(row.groups & gPairs) || wordOf("iqform", "IQBL,IQP") == "IQP");
        if (asPairs) {
            c.gen(pairs, 0, n + extra(n));
        } else {
            c.gen(onlyI, 0, n / 2);
            c.gen(onlyQ, 0, n / 2 + extra(n));
        }
    }

    // -------------------------------------------------------- recording

    void recordStartCmd(Call&)
    {
        if (recording || wordOf("dem", "OFF") != "IQ" || wordOf("recsour", "AF") != "IQ" ||
            wordOf("recstor", "MEM") != "FILE")
            return error(-221);
        recording = true;
        recordStart = std::chrono::steady_clock::now();
    }

    // The recording holds what the elapsed time gives at the receiver's
    // fixed clock; names count up so that several recordings can coexist.
    void recordStopCmd(Call&)
    {
        if (!recording)
            return error(-221);
        recording = false;
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - recordStart).count();
        uint64_t n = std::min<uint64_t>(uint64_t(std::llround(s * kRecordingClock)), row.maxSamples);
        char name[32];
        recordNumber = recordNumber % 9999 + 1;
        std::snprintf(name, sizeof name, "RecIQ%04d.riq", recordNumber);
        files.push_back({kRecordDir, name, n});
    }

    static bool sameText(const std::string& a, const std::string& b) { return upper(a) == upper(b); }

    // Absolute form of a path given relative to the current directory.
    std::string resolve(const std::string& arg) const
    {
        std::string p = unquote(trim(arg));
        std::replace(p.begin(), p.end(), '/', '\\');
        std::vector<std::string> parts;
        auto addParts = [&parts](const std::string& s) {
            size_t pos = 0;
            while (pos <= s.size()) {
                size_t b = s.find('\\', pos);
                std::string part = s.substr(pos, b == std::string::npos ? std::string::npos : b - pos);
                if (part == "..") {
                    if (!parts.empty())
                        parts.pop_back();
                } else if (!part.empty() && part != ".") {
                    parts.push_back(part);
                }
                if (b == std::string::npos)
                    break;
                pos = b + 1;
            }
        };
        if (p.empty() || p[0] != '\\')
            addParts(cwd);
        addParts(p);
        std::string out;
        for (const std::string& part : parts)
            out += "\\" + part;
        return out.empty() ? "\\" : out;
    }

    const std::string* findDir(const std::string& path) const
    {
        for (const std::string& d : dirs)
            if (sameText(d, path))
                return &d;
        return nullptr;
    }

    File* findFile(const std::string& path)
    {
        for (File& f : files)
            if (sameText(f.dir + "\\" + f.name, path))
                return &f;
        return nullptr;
    }

    void cdir(Call& c)
    {
        if (c.query)
            return c.put("\"" + cwd + "\"");
        if (c.args.size() != 1)
            return error(c.args.empty() ? -109 : -108);
        const std::string* d = findDir(resolve(c.args[0]));
        if (!d)
            return error(-256);
        cwd = *d;
    }

    // Catalogue: used bytes, free bytes, then "name,type,size" per entry
    // (directories first), each entry in double quotes.
    void catalog(Call& c)
    {
        const std::string* d = findDir(c.args.empty() ? cwd : resolve(c.args[0]));
        if (!d)
            return error(-256);
        std::string list;
        uint64_t used = 0;
        if (*d != "\\")
            list += ",\".,DIR,0\",\"..,DIR,0\"";
        for (const std::string& sub : dirs) {
            size_t cut = sub.rfind('\\');
            if (sub != "\\" && sameText(cut == 0 ? "\\" : sub.substr(0, cut), *d))
                list += ",\"" + sub.substr(cut + 1) + ",DIR,0\"";
        }
        for (const File& f : files) {
            used += f.size();
            if (sameText(f.dir, *d))
                list += ",\"" + f.name + ",BIN," + std::to_string(f.size()) + "\"";
        }
        c.put(std::to_string(used) + "," + std::to_string(uint64_t(1) << 34) + list);
    }

    void remove(Call& c)
    {
        if (c.args.size() != 1)
            return error(c.args.empty() ? -109 : -108);
        File* f = findFile(resolve(c.args[0]));
        if (!f)
            return error(-256);
        files.erase(files.begin() + (f - files.data()));
    }

    void fileData(Call& c)
    {
        if (c.args.size() != 1)
            return error(c.args.empty() ? -109 : -108);
        File* f = findFile(resolve(c.args[0]));
        if (!f)
            return error(-256);
        c.put(blockHeader(f->size()) + recordingHeader(kRecordingClock, f->samples));
        c.gen(recordingTone, 0, f->samples * 4 + extra(f->size()));
    }

    // -------------------------------------------------------- oscilloscope

    void recordLength(Call& c)
    {
        int64_t n;
        if (c.query)
            return c.put(std::to_string(setupCount));
        if (c.args.size() != 1)
            return error(c.args.empty() ? -109 : -108);
        if (!parseInteger(c.args[0], &n))
            return error(-224);
        if (n < 1 || uint64_t(n) > row.maxSamples)
            return error(-222);
        setupCount = uint64_t(n);
        acquired = false;
    }

    void runSingle(Call&)
    {
        if (wordOf("iqstat", "OFF,ON") != "ON")
            return error(-221);
        acquired = true;
    }

    // The scope answers only after an acquisition ("RUNS") with the
    // current record length; changing the length discards it.
    void channelData(Call& c)
    {
        if (!suffixOk(c))
            return;
        if (!acquired)
            return error(-230);
        const uint64_t n = setupCount * 8;
        c.put(blockHeader(n));
        c.gen(pairs, 0, n + extra(n));
    }

    // -------------------------------------------------------- test blocks

    // Sizes of the test queries: up to 2^40 bytes, generated while sent.
    bool testSize(Call& c, uint64_t* n)
    {
        int64_t v;
        if (c.args.size() != 1)
            return error(c.args.empty() ? -109 : -108), false;
        if (!parseInteger(c.args[0], &v))
            return error(-224), false;
        if (v < 0 || uint64_t(v) > kMaxTestBlock)
            return error(-222), false;
        *n = uint64_t(v);
        return true;
    }

    void simBlock(Call& c)
    {
        uint64_t n;
        if (!testSize(c, &n))
            return;
        c.put(blockHeader(n));
        c.gen(testBlock, 0, n + extra(n));
    }

    void simIndefinite(Call& c)
    {
        uint64_t n;
        if (!testSize(c, &n))
            return;
        c.put("#0");
        c.gen(testIndef, 0, n);
    }

    void simText(Call& c)
    {
        uint64_t n;
        if (!testSize(c, &n))
            return;
        c.open();
        c.gen(testText, 0, n);
    }

    uint8_t status(bool outputPending) const
    {
        uint8_t s = 0;
        if (!errors.empty())
            s |= 0x04;
        if (outputPending)
            s |= 0x10;
        if (esr & ese)
            s |= 0x20;
        if (s & sre)
            s |= 0x40;
        return s;
    }
};

const std::vector<Instrument::Engine::Command>& Instrument::Engine::commands()
{
    using E = Engine;
    const unsigned all = gAll, an = gAnalyzer, rx = gReceiver, sc = gScope;
    static const std::vector<Command> table = {
        // Common commands and queries of every type.
        {"*IDN", all, Query, &E::idn, "", "", 0, 0, 0},
        {"*OPT", all, Query, &E::opt, "", "", 0, 0, 0},
        {"*CLS", all, Set, &E::cls, "", "", 0, 0, 0},
        {"*RST", all, Set, &E::rst, "", "", 0, 0, 0},
        {"*OPC", all, Both, &E::opc, "", "", 0, 0, 0},
        {"*WAI", all, Set, &E::nothing, "", "", 0, 0, 0},
        {"*ESR", all, Query, &E::esrQuery, "", "", 0, 0, 0},
        {"*ESE", all, Both, &E::enable, "ese", "", 0, 0, 0},
        {"*SRE", all, Both, &E::enable, "sre", "", 0, 0, 0},
        {"*STB", all, Query, &E::stb, "", "", 0, 0, 0},
        {"&GTL", all, Set, &E::nothing, "", "", 0, 0, 0},
        {"SYSTem:ERRor:[NEXT]", all, Query, &E::nextError, "", "", 0, 0, 0},
        {"SYSTem:ERRor:ALL", all, Query, &E::allErrors, "", "", 0, 0, 0},
        {"SYSTem:ERRor:CLEar:ALL", all, Set, &E::clearErrors, "", "", 0, 0, 0},
        {"[SENSe]:BWIDth:[RESolution]", all, Both, &E::num, "bwid", "", 0, 0, 0},
        {"[SENSe]:BANDwidth:[RESolution]", all, Both, &E::num, "bwid", "", 0, 0, 0},
        {"SIM:BLOCK", all, Query, &E::simBlock, "", "", 0, 0, 0},
        {"SIM:INDEF", all, Query, &E::simIndefinite, "", "", 0, 0, 0},
        {"SIM:TEXT", all, Query, &E::simText, "", "", 0, 0, 0},
        {"MMEMory:CDIRectory", all, Both, &E::cdir, "", "", 0, 0, 0},
        {"MMEMory:CATalog", all, Query, &E::catalog, "", "", 0, 0, 0},
        {"MMEMory:DELete", all, Set, &E::remove, "", "", 0, 0, 0},
        {"MMEMory:DATA", all, Query, &E::fileData, "", "", 0, 0, 0},
        // Analyzers and measuring receivers.
        {"INSTrument:[SELect]", an, Both, &E::word, "inst", "SAN,IQ", 0, 0, 0},
        {"INSTrument:NSELect", gChannel, Both, &E::num, "nsel", "", 1, 1, kChannels},
        {"UNIT:POWer", an, Both, &E::word, "unitpow", "DBM,DBMV,DBUV,V,W", 0, 0, 0},
        {"DISPlay:[WINDow]:TRACe:Y:[SCALe]:RLEVel", an, Both, &E::num, "rlev", "", -20, -200, 200},
        {"[SENSe]:FREQuency:CENTer", an, Both, &E::num, "freq", "", 1e9, 0, 1e12},
        {"INPut:ATTenuation", an, Both, &E::num, "att", "", 10, 0, 100},
        {"INPut:SELect", gInputSel, Both, &E::inputSelect, "", "", 0, 0, 0},
        {"INPut:TYPE", gInputType, Both, &E::word, "inptype", "INPUT1,INPUT2", 0, 0, 0},
        {"INPut:DIQ:RANGe:[UPPer]", gDigital, Both, &E::num, "diqrange", "", 1, 0, 0},
        {"INPut:DIQ:SRATe", gDigital, Both, &E::num, "diqsrate", "", 100e6, 0, 0},
        {"INPut:IQ:BALanced:[STATe]", gAnalog, Both, &E::word, "balanced", "ON,OFF", 0, 0, 0},
        {"INPut:IQ:IMPedance", gAnalog, Both, &E::word, "impedance", "LOW,HIGH", 0, 0, 0},
        {"[SENSe]:IQ:DITHer:[STATe]", gAnalog, Both, &E::word, "dither", "OFF,ON", 0, 0, 0},
        {"[SENSe]:IQ:LPASs:[STATe]", gAnalog, Both, &E::word, "lowpass", "ON,OFF", 0, 0, 0},
        {"[SENSe]:VOLTage:IQ:RANGe:[UPPer]", gAnalog, Both, &E::num, "iqrange", "", 1, 0, 0},
        {"[SENSe]:VOLTage:IQ:RANGe:OFFSet", gAnalog, Both, &E::num, "iqoffset", "", 0, 0, 0},
        {"TRACe:IQ:[STATe]", an, Both, &E::word, "traciq", "OFF,ON", 0, 0, 0},
        {"TRACe:IQ:DATA:FORMat", gPairs, Both, &E::word, "iqform", "IQBL,IQP", 0, 0, 0},
        {"TRACe:IQ:SET", an, Both, &E::traceSetup, "", "", 0, 0, 0},
        {"TRACe:IQ:DATA", an, Query, &E::traceData, "", "", 0, 0, 0},
        {"SYSTem:COMMunicate:GPIB:[SELF]:RTERminator", an, Both, &E::word, "rter", "LFEOI,EOI", 0, 0, 0},
        {"FORMat:[DATA]", an | sc, Both, &E::format, "", "", 0, 0, 0},
        // Handheld receiver: demodulation and recording to its storage card.
        {"[SENSe]:DEModulation", rx, Both, &E::word, "dem", "OFF,AM,FM,USB,LSB,IQ", 0, 0, 0},
        {"TRACe:RECord:SOURce", rx, Both, &E::word, "recsour", "AF,IQ", 0, 0, 0},
        {"TRACe:RECord:STORage", rx, Both, &E::word, "recstor", "MEM,FILE", 0, 0, 0},
        {"TRACe:RECord:STARt", rx, Set, &E::recordStartCmd, "", "", 0, 0, 0},
        {"TRACe:RECord:STOP", rx, Set, &E::recordStopCmd, "", "", 0, 0, 0},
        // Oscilloscope: I/Q per channel.
        {"IQ:STATe", sc, Both, &E::word, "iqstat", "OFF,ON", 0, 0, 0},
        {"CHANnel#:IQ:INPType", sc, Both, &E::word, "inpt", "REAL,COMPLEX", 0, 0, 0},
        {"CHANnel#:IQ:INPMode", sc, Both, &E::word, "inpm", "BAS,RFIF", 0, 0, 0},
        {"IQ:RBWidth", sc, Both, &E::num, "rbw", "", 0.8, 0, 0},
        {"IQ:SRATe", sc, Both, &E::num, "srat", "", 1e9, 100, 1e10},
        {"IQ:RLENgth", sc, Both, &E::recordLength, "", "", 0, 0, 0},
        {"CHANnel#:IQ:CFRequency", sc, Both, &E::num, "cfr", "", 1e9, 0, 1e11},
        {"CHANnel#:IQ:SBRF", sc, Both, &E::word, "sbrf", "NORM,INV", 0, 0, 0},
        {"CHANnel#:IQ:SBIF", sc, Both, &E::word, "sbif", "NUPP,NLOW,IUPP,ILOW", 0, 0, 0},
        {"RUNSingle", sc, Set, &E::runSingle, "", "", 0, 0, 0},
        {"CHANnel#:IQ:DATA:[VALues]", sc, Query, &E::channelData, "", "", 0, 0, 0},
    };
    return table;
}

// ---------------------------------------------------------------- instrument

Instrument::Instrument(const Settings& s, MessageLog* log) : engine_(new Engine(s)), log_(log) {}

Instrument::~Instrument() = default;

Reply Instrument::execute(const std::string& message)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (log_)
        log_->write(message);
    std::string m = message;
    if (!m.empty() && m.back() == '\n')
        m.pop_back();
    // Query replies of one message are joined with ";" and end in one line feed.
    Reply reply;
    bool answered = false;
    for (const std::string& unit : Engine::splitCommands(m))
        engine_->run(unit, &reply, &answered);
    if (!answered || engine_->settings.stall) // a stalled instrument executes but never answers
        return Reply();
    reply.text("\n");
    return reply;
}

uint8_t Instrument::statusByte(bool outputPending)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return engine_->status(outputPending);
}

} // namespace sim
