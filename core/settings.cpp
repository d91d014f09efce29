#include "settings.h"

#include <array>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>

#include "filehelpers.h"
#include "messages.h"

namespace quendril {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr std::size_t kFileKindWidth = 3;
constexpr int kIniLines = 7;
constexpr const char* kDefaultIdFile = "HOSTPCID.INF";
constexpr const char* kDefaultFileKind = "ALL";

// The fixed columns of line 1, in file order. Field 0 (the tag) has no range.
struct FixedField {
    std::string Settings::*field;
    std::size_t column;  // 1-based
    std::size_t width;
    const char* defaultText;
    int low;
    int high;
};

constexpr std::array<FixedField, 10> kFixedFields{{
    {&Settings::fileTag, 1, 10, kIniFileTag, 0, 0},
    {&Settings::ioBoxCount, 11, 2, "16", 1, 16},
    {&Settings::comPort, 13, 2, "00", 0, 1},
    {&Settings::baudCode, 15, 2, "03", 0, 7},
    {&Settings::dataLength, 17, 2, "08", 7, 8},
    {&Settings::parityCode, 19, 2, "00", 0, 2},
    {&Settings::stopBits, 21, 2, "01", 1, 2},
    {&Settings::lineParamA, 23, 4, "0050", 30, 300},
    {&Settings::lineParamB, 27, 5, "03000", 500, 10000},
    {&Settings::lineParamC, 32, 2, "03", 0, 99},
}};

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string trimBlanks(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && isBlank(s[b])) ++b;
    while (e > b && isBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

std::string upperAscii(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

struct LeadingNumber {
    bool found = false;
    std::size_t end = 0;  // index just past the number
    double value = 0.0;
};

std::size_t skipDigits(const std::string& t, std::size_t i) {
    while (i < t.size() && isDigit(t[i])) ++i;
    return i;
}

// Sign, digits, one decimal point, and an exponent (E or D) when digits follow it.
LeadingNumber leadingNumber(const std::string& t) {
    std::size_t i = 0;
    while (i < t.size() && isBlank(t[i])) ++i;
    const std::size_t start = i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    const std::size_t intStart = i;
    i = skipDigits(t, i);
    std::size_t mantissaDigits = i - intStart;
    if (i < t.size() && t[i] == '.') {
        const std::size_t fracStart = i + 1;
        const std::size_t fracEnd = skipDigits(t, fracStart);
        mantissaDigits += fracEnd - fracStart;
        if (mantissaDigits > 0) i = fracEnd;
    }
    if (mantissaDigits == 0) return {};
    std::string text = t.substr(start, i - start);
    if (i < t.size() && (t[i] == 'E' || t[i] == 'e' || t[i] == 'D' || t[i] == 'd')) {
        std::size_t j = i + 1;
        if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
        const std::size_t expEnd = skipDigits(t, j);
        if (expEnd > j) {
            text += 'e' + t.substr(i + 1, expEnd - i - 1);
            i = expEnd;
        }
    }
    if (text[0] == '+') text.erase(0, 1);
    LeadingNumber n{true, i, 0.0};
    const auto r = std::from_chars(text.data(), text.data() + text.size(), n.value);
    if (r.ec == std::errc::result_out_of_range) {
        const bool tiny = text.find("e-") != std::string::npos;
        n.value = tiny ? 0.0 : std::numeric_limits<double>::infinity() * (text[0] == '-' ? -1 : 1);
    }
    return n;
}

int32_t saturatedRound(double v) {
    // nearbyint rounds a half to the even neighbour in the default mode.
    const double r = std::nearbyint(v);
    if (r >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (r <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(r);
}

bool settingsFileError(Files& files) {
    files.report({FailureKind::App, kAppErrSettingsFile, "", "", FailureArea::Settings});
    return false;
}

// Defaults are written only over nothing: an existence test the user
// cancelled must not replace a file that is there.
bool confirmedMissing(const std::string& path) {
    std::error_code ec;
    return std::filesystem::symlink_status(path, ec).type() == std::filesystem::file_type::not_found;
}

std::string currentDir() { return std::filesystem::current_path().string(); }

// The seven lines of hostpc.ini; fewer than six is a damaged file.
bool readIniLines(Files& files, std::array<std::string, kIniLines>& lines) {
    InputFile file;
    // Without its settings the program cannot go on; the box said why.
    if (!openInput(files, file, kIniFileName)) {
        if (!files.ending()) files.report({FailureKind::GivenUp, 0, kIniFileName, "", FailureArea::Settings});
        return false;
    }
    for (int i = 0; i < kIniLines; ++i) {
        if (file.atEnd()) {
            if (i == kIniLines - 1) break;
            return settingsFileError(files);
        }
        lineInput(files, file, lines[i]);
        if (files.ending()) return false;
    }
    return true;
}

void storeFixedFields(Settings& settings, const std::string& line1) {
    for (const FixedField& f : kFixedFields) {
        const std::size_t from = f.column - 1;
        settings.*f.field = fitWidth(from < line1.size() ? line1.substr(from, f.width) : "", f.width);
    }
}

bool inRange(const std::string& text, int low, int high) {
    if (!isWholeNumber(text)) return false;
    const int32_t v = numericValue(text);
    return v >= low && v <= high;
}

std::string iniBytes(const Settings& settings) {
    std::string out;
    for (const FixedField& f : kFixedFields) out += fitWidth(settings.*f.field, f.width);
    out += kCrLf;
    for (const std::string* s : {&settings.apDir, &settings.recvDir, &settings.sendDir}) {
        out += *s + kCrLf;
    }
    out += fitWidth(settings.fileKind, kFileKindWidth) + kCrLf;
    out += settings.htIdFile + kCrLf;
    out += settings.appendWord + kCrLf;
    return out;
}

// Reads the comma-separated fields of the terminal ID file:
// - blanks (space, tab) before a field are skipped;
// - an unquoted field runs to the next comma, CR or LF, trailing blanks cut;
// - a field whose first character is '"' runs to the next '"' and may hold
//   commas; what follows the closing quote up to the delimiter is dropped.
//   An unclosed quote ends at the line end, so it cannot swallow the file;
// - the delimiter is consumed: a comma, or a line end (CR LF, LF or CR);
//   a line end right at the start of a field gives an empty field, and
//   lineEnded() tells that the field was the last of its line;
// - NUL and every other byte is kept as it is.
// A read error is reported with the file-error box; Retry reads on, Cancel
// ends the fields as if the file ended there.
class FieldReader {
public:
    FieldReader(Files& files, InputFile& file) : files_(files), file_(file) {}

    bool atEnd() { return failed_ || file_.atEnd(); }
    bool lineEnded() const { return lineEnded_; }

    // Drops what is left of the current line.
    void skipLine() {
        if (lineEnded_) return;
        std::string dropped;
        const int c = readUntil(dropped, isLineEnd);
        endLine(c);
    }

    std::string next() {
        int c = get();
        while (c != EOF && isBlank(static_cast<char>(c))) c = get();
        std::string field;
        if (c == '"') {
            c = readUntil(field, [](int ch) { return ch == '"' || isLineEnd(ch); });
            std::string dropped;
            if (c == '"') c = readUntil(dropped, [](int ch) { return ch == ',' || isLineEnd(ch); });
        } else {
            file_.unget(c);
            c = readUntil(field, [](int ch) { return ch == ',' || isLineEnd(ch); });
            field = trimRight(field);
        }
        endLine(c);
        return field;
    }

private:
    static bool isLineEnd(int c) { return c == '\r' || c == '\n'; }

    static std::string trimRight(std::string s) {
        while (!s.empty() && isBlank(s.back())) s.pop_back();
        return s;
    }

    // Notes whether delimiter c ended the line (EOF does too), and takes
    // the LF of a CR LF.
    void endLine(int c) {
        lineEnded_ = c == EOF || isLineEnd(c);
        if (c == '\r') {
            const int after = get();
            if (after != '\n') file_.unget(after);
        }
    }

    template <class Stop>
    int readUntil(std::string& into, Stop stop) {
        int c = get();
        while (c != EOF && !stop(c)) {
            into.push_back(static_cast<char>(c));
            c = get();
        }
        return c;
    }

    int get() {
        while (!failed_) {
            const int c = file_.get();
            if (c != EOF || !file_.readError()) return c;
            Failure failure = fileFailure(file_.readError(), file_.path());
            failure.area = files_.area();
            if (files_.report(std::move(failure)) != kAnswerRetry) failed_ = true;
        }
        return EOF;
    }

    Files& files_;
    InputFile& file_;
    bool failed_ = false;
    bool lineEnded_ = false;
};

// Reads records until an empty ID, the end of the file or the last slot;
// the number of slots that count. A record is one line: fields a short line
// lacks stay empty, fields beyond the fourth are dropped.
TerminalTable readIdRecords(FieldReader& fields) {
    TerminalTable table;
    while (table.size() < kHtIdSlots) {
        Terminal e;
        e.htId = fields.next();
        if (e.htId.empty() || fields.atEnd()) break;
        for (std::string* field : {&e.recvDir, &e.sendDir, &e.fileKind}) {
            if (!fields.lineEnded()) *field = fields.next();
            if (fields.atEnd()) break;
        }
        e.fileKind = fitWidth(e.fileKind, kFileKindWidth);
        table.push_back(std::move(e));
        if (fields.atEnd()) break;
        fields.skipLine();
        if (fields.atEnd()) break;
    }
    return table;
}

}  // namespace

std::string fitWidth(const std::string& text, std::size_t width) {
    std::string s = text.substr(0, width);
    s.resize(width, ' ');
    return s;
}

int32_t numericValue(const std::string& text) {
    const LeadingNumber n = leadingNumber(text);
    return n.found ? saturatedRound(n.value) : 0;
}

bool isWholeNumber(const std::string& text) {
    const std::string t = trimBlanks(text);
    const LeadingNumber n = leadingNumber(t);
    return n.found && n.end == t.size();
}

int16_t fileKindIndex(const std::string& code) {
    const std::string c = upperAscii(code);
    for (int16_t i = 0; i < 3; ++i) {
        if (c == fileKindCode(i)) return i;
    }
    return -1;
}

std::string fileKindCode(int16_t index) {
    switch (index) {
    case 0: return "LOD";
    case 1: return "OTR";
    case 2: return "ALL";
    default: return "";
    }
}

bool readSettings(Files& files, Settings& settings) {
    const FailureArea area = files.area();
    files.setArea(FailureArea::Settings);
    if (!existFile(files, kIniFileName) && !files.ending() && confirmedMissing(kIniFileName)) {
        writeSettings(files, defaultSettings());
    }
    std::array<std::string, kIniLines> lines;
    bool ok = !files.ending() && readIniLines(files, lines);
    if (ok) {
        Settings read;
        storeFixedFields(read, lines[0]);
        read.apDir = trimBlanks(lines[1]);
        read.recvDir = trimBlanks(lines[2]);
        read.sendDir = trimBlanks(lines[3]);
        read.fileKind = fitWidth(trimBlanks(lines[4]), kFileKindWidth);
        read.htIdFile = trimBlanks(lines[5]);
        read.appendWord = upperAscii(trimBlanks(lines[6]));
        read.appendMode = read.appendWord == kAppendWord;
        ok = checkSettings(files, read);
        if (ok) settings = std::move(read);
    }
    files.setArea(area);
    return ok && !files.ending();
}

bool checkSettings(Files& files, Settings& settings) {
    if (settings.fileTag != kIniFileTag) return settingsFileError(files);
    for (std::size_t i = 1; i < kFixedFields.size(); ++i) {
        const FixedField& f = kFixedFields[i];
        if (!inRange(settings.*f.field, f.low, f.high)) settings.*f.field = f.defaultText;
    }
    // An empty directory finds nothing either: it would otherwise become the
    // root directory once a separator is appended.
    const std::string cwd = currentDir();
    for (std::string* dir : {&settings.apDir, &settings.recvDir, &settings.sendDir}) {
        if (listEntries(files, *dir, kMaskDirectory).empty()) {
            *dir = cwd;
            appendSeparator(*dir);
        }
    }
    if (fileKindIndex(settings.fileKind) == -1) settings.fileKind = kDefaultFileKind;
    if (settings.htIdFile.empty()) return settingsFileError(files);
    return !files.ending();
}

bool writeSettings(Files& files, const Settings& settings) {
    const FailureArea area = files.area();
    files.setArea(FailureArea::Settings);
    const bool ok = writeFileAtomically(files, kIniFileName, iniBytes(settings));
    files.setArea(area);
    return ok;
}

Settings defaultSettings() {
    Settings settings;
    for (const FixedField& f : kFixedFields) settings.*f.field = f.defaultText;
    const std::string cwd = currentDir();
    settings.apDir = cwd;
    settings.recvDir = cwd;
    settings.sendDir = cwd;
    settings.fileKind = kDefaultFileKind;
    settings.htIdFile = kDefaultIdFile;
    return settings;
}

bool readIdFile(Files& files, const Settings& settings, TerminalTable& terminals) {
    const FailureArea area = files.area();
    files.setArea(FailureArea::Settings);
    const std::string& path = settings.htIdFile;
    terminals.clear();
    if (!existFile(files, path) && !files.ending() && confirmedMissing(path)) {
        writeFileAtomically(files, path, std::string("hostpcid.inf") + kCrLf + kWildcardId + ",,," + kCrLf);
    }
    InputFile file;
    if (!files.ending() && openInput(files, file, path)) {
        std::string header;
        if (!file.atEnd()) lineInput(files, file, header);
        FieldReader fields(files, file);
        if (!files.ending()) terminals = readIdRecords(fields);
    }
    files.setArea(area);
    return !files.ending();
}

}  // namespace quendril
