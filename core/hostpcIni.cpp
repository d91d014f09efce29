#include "hostpcIni.h"

#include <array>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>

#include "declar.h"
#include "filehelpers.h"
#include "host.h"
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
    std::string EnvSettingsRecord::*field;
    std::size_t column;  // 1-based
    std::size_t width;
    const char* defaultText;
    int low;
    int high;
};

constexpr std::array<FixedField, 10> kFixedFields{{
    {&EnvSettingsRecord::fileTag, 1, 10, kIniFileTag, 0, 0},
    {&EnvSettingsRecord::ioBoxCount, 11, 2, "16", 1, 16},
    {&EnvSettingsRecord::comPort, 13, 2, "00", 0, 1},
    {&EnvSettingsRecord::baudCode, 15, 2, "03", 0, 7},
    {&EnvSettingsRecord::dataLength, 17, 2, "08", 7, 8},
    {&EnvSettingsRecord::parityCode, 19, 2, "00", 0, 2},
    {&EnvSettingsRecord::stopBits, 21, 2, "01", 1, 2},
    {&EnvSettingsRecord::lineParamA, 23, 4, "0050", 30, 300},
    {&EnvSettingsRecord::lineParamB, 27, 5, "03000", 500, 10000},
    {&EnvSettingsRecord::lineParamC, 32, 2, "03", 0, 99},
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

[[noreturn]] void settingsFileError() {
    dispAppErr(kAppErrSettingsFile, "");
    endProgram(1);
}

// Defaults are written only over nothing: an existence test the user
// cancelled must not replace a file that is there.
bool confirmedMissing(const std::string& path) {
    std::error_code ec;
    return std::filesystem::symlink_status(path, ec).type() == std::filesystem::file_type::not_found;
}

std::string currentDir() { return std::filesystem::current_path().string(); }

// The seven lines of hostpc.ini; fewer than six is a damaged file.
std::array<std::string, kIniLines> readIniLines() {
    InputFile file;
    // Without its settings the program cannot go on; the box said why.
    if (!openInput(file, kIniFileName)) endProgram(1);
    std::array<std::string, kIniLines> lines;
    for (int i = 0; i < kIniLines; ++i) {
        if (file.atEnd()) {
            if (i == kIniLines - 1) break;
            file.close();
            settingsFileError();
        }
        lineInput(file, lines[i]);
    }
    return lines;
}

void storeFixedFields(const std::string& line1) {
    for (const FixedField& f : kFixedFields) {
        const std::size_t from = f.column - 1;
        EnvSettings.*f.field = fitWidth(from < line1.size() ? line1.substr(from, f.width) : "", f.width);
    }
}

bool inRange(const std::string& text, int low, int high) {
    if (!isWholeNumber(text)) return false;
    const int32_t v = numericValue(text);
    return v >= low && v <= high;
}

std::string iniBytes() {
    std::string out;
    for (const FixedField& f : kFixedFields) out += fitWidth(EnvSettings.*f.field, f.width);
    out += kCrLf;
    for (const std::string* s : {&EnvSettings.apDir, &EnvSettings.recvDir, &EnvSettings.sendDir}) {
        out += *s + kCrLf;
    }
    out += fitWidth(EnvSettings.fileKind, kFileKindWidth) + kCrLf;
    out += EnvSettings.htIdFile + kCrLf;
    out += EnvSettings.appendWord + kCrLf;
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
    explicit FieldReader(InputFile& file) : file_(file) {}

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
            if (reportFileFailure(file_.readError(), file_.path()) != kAnswerRetry) failed_ = true;
        }
        return EOF;
    }

    InputFile& file_;
    bool failed_ = false;
    bool lineEnded_ = false;
};

void clearIdTable() {
    for (HtIdEntry& e : HtIdTable) e = {"", "", "", fitWidth("", kFileKindWidth)};
    htIdCount = 0;
}

// Reads records until an empty ID, the end of the file or the last slot;
// the number of slots that count. A record is one line: fields a short line
// lacks stay empty, fields beyond the fourth are dropped.
int16_t readIdRecords(FieldReader& fields) {
    for (int16_t i = 0; i < kHtIdSlots; ++i) {
        HtIdEntry& e = HtIdTable[i];
        e.htId = fields.next();
        if (e.htId.empty() || fields.atEnd()) {
            e.htId.clear();
            return i;
        }
        for (std::string* field : {&e.recvDir, &e.sendDir, &e.fileKind}) {
            if (!fields.lineEnded()) *field = fields.next();
            if (fields.atEnd()) break;
        }
        e.fileKind = fitWidth(e.fileKind, kFileKindWidth);
        if (fields.atEnd()) return static_cast<int16_t>(i + 1);
        fields.skipLine();
        if (fields.atEnd()) return static_cast<int16_t>(i + 1);
    }
    return kHtIdSlots;
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

void readIni() {
    if (!existFile(kIniFileName) && confirmedMissing(kIniFileName)) makeDefaultIni();
    const auto lines = readIniLines();
    storeFixedFields(lines[0]);
    EnvSettings.apDir = trimBlanks(lines[1]);
    EnvSettings.recvDir = trimBlanks(lines[2]);
    EnvSettings.sendDir = trimBlanks(lines[3]);
    EnvSettings.fileKind = fitWidth(trimBlanks(lines[4]), kFileKindWidth);
    EnvSettings.htIdFile = trimBlanks(lines[5]);
    EnvSettings.appendWord = upperAscii(trimBlanks(lines[6]));
    EnvSettings.appendMode = EnvSettings.appendWord == kAppendWord;
    checkIni();
}

void checkIni() {
    if (EnvSettings.fileTag != kIniFileTag) settingsFileError();
    for (std::size_t i = 1; i < kFixedFields.size(); ++i) {
        const FixedField& f = kFixedFields[i];
        if (!inRange(EnvSettings.*f.field, f.low, f.high)) EnvSettings.*f.field = f.defaultText;
    }
    // An empty directory finds nothing either: it would otherwise become the
    // root directory once a separator is appended.
    const std::string cwd = currentDir();
    for (std::string* dir : {&EnvSettings.apDir, &EnvSettings.recvDir, &EnvSettings.sendDir}) {
        if (dirFirst(*dir, kMaskDirectory).empty()) {
            *dir = cwd;
            appendSeparator(*dir);
        }
    }
    if (fileKindIndex(EnvSettings.fileKind) == -1) EnvSettings.fileKind = kDefaultFileKind;
    if (EnvSettings.htIdFile.empty()) settingsFileError();
}

bool writeIni() { return writeFileAtomically(kIniFileName, iniBytes()); }

void makeDefaultIni() {
    for (const FixedField& f : kFixedFields) EnvSettings.*f.field = f.defaultText;
    const std::string cwd = currentDir();
    EnvSettings.apDir = cwd;
    EnvSettings.recvDir = cwd;
    EnvSettings.sendDir = cwd;
    EnvSettings.fileKind = kDefaultFileKind;
    EnvSettings.htIdFile = kDefaultIdFile;
    EnvSettings.appendWord.clear();
    writeIni();
}

void readIdInf() {
    clearIdTable();
    const std::string path = EnvSettings.htIdFile;
    if (!existFile(path) && confirmedMissing(path)) makeDefaultIdInf();
    InputFile file;
    if (!openInput(file, path)) return;
    std::string header;
    if (!file.atEnd()) lineInput(file, header);
    FieldReader fields(file);
    htIdCount = readIdRecords(fields);
}

void makeDefaultIdInf() {
    writeFileAtomically(EnvSettings.htIdFile,
                        std::string("hostpcid.inf") + kCrLf + kWildcardId + ",,," + kCrLf);
}

}  // namespace quendril
