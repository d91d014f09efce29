// The settings file hostpc.ini and the terminal ID file, read into values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "filehelpers.h"

namespace quendril {

// The settings file is always this bare name in the working folder.
inline constexpr const char* kIniFileName = "hostpc.ini";
inline constexpr const char* kIniFileTag = "HOSTPC.INI";
inline constexpr const char* kAppendWord = "APPEND";

// The settings of hostpc.ini. Numeric settings stay fixed-width digit texts,
// exactly as stored; code that needs a number converts where it uses it.
// Texts are bytes of the single-byte code page.
struct Settings {
    std::string fileTag;     // 10
    std::string ioBoxCount;  // 2
    std::string comPort;     // 2
    std::string baudCode;    // 2
    std::string dataLength;  // 2
    std::string parityCode;  // 2
    std::string stopBits;    // 2
    std::string lineParamA;  // 4
    std::string lineParamB;  // 5
    std::string lineParamC;  // 2
    std::string apDir;
    std::string recvDir;
    std::string sendDir;
    std::string fileKind;    // 3
    std::string htIdFile;
    std::string appendWord;
    bool appendMode = false;

    bool operator==(const Settings&) const = default;
};

// One terminal of the terminal ID file.
struct Terminal {
    std::string htId;
    std::string recvDir;
    std::string sendDir;
    std::string fileKind;  // 3; three blanks: use the settings' file type
};

inline constexpr int kHtIdSlots = 128;
inline constexpr const char* kWildcardId = "&&&&&&";
// At most kHtIdSlots terminals, in file order.
using TerminalTable = std::vector<Terminal>;

// Reads hostpc.ini from the working folder (writing the default file first
// when there is none) and checks it. False when a damaged file or a failure
// ends the program: files.ending() then says why.
bool readSettings(Files& files, Settings& settings);

// Replaces invalid values by defaults; false (an App settings-file failure
// in files) on a wrong tag or an empty terminal ID file name.
bool checkSettings(Files& files, Settings& settings);

// Stores settings in hostpc.ini, replacing the old file atomically. False
// when it failed (the old file is then unchanged).
bool writeSettings(Files& files, const Settings& settings);

// Every field at its default; the directories are the working folder.
Settings defaultSettings();

// "LOD" 0, "OTR" 1, "ALL" 2 (any letter case), anything else -1.
int16_t fileKindIndex(const std::string& code);
// 0 "LOD", 1 "OTR", 2 "ALL", anything else "".
std::string fileKindCode(int16_t index);

// Reads the terminal ID file settings name, writing the default file first
// when there is none. False when a failure ends the program.
bool readIdFile(Files& files, const Settings& settings, TerminalTable& terminals);

// The number at the start of text: blanks skipped, read up to the first
// character that cannot continue it (sign, digits, one decimal point, an
// exponent), rounded to the nearest integer with a half going to the even
// neighbour; 0 when text has no leading number; saturated at the int32 ends.
int32_t numericValue(const std::string& text);

// True when the whole text, blanks around it allowed, is one number.
bool isWholeNumber(const std::string& text);

// text padded on the right with blanks or cut to width.
std::string fitWidth(const std::string& text, std::size_t width);

}  // namespace quendril
