// The settings file hostpc.ini and the terminal ID file.
#pragma once

#include <cstdint>
#include <string>

namespace quendril {

// The settings file is always this bare name in the current directory.
inline constexpr const char* kIniFileName = "hostpc.ini";
inline constexpr const char* kIniFileTag = "HOSTPC.INI";
inline constexpr const char* kAppendWord = "APPEND";

// Loads EnvSettings from hostpc.ini (writing the default file first when
// there is none) and checks it. A damaged file shows the settings-file error
// and ends the program.
void readIni();

// Replaces invalid values of EnvSettings by defaults; ends the program on a
// wrong tag or an empty terminal ID file name. Called by readIni.
void checkIni();

// Stores EnvSettings in hostpc.ini, replacing the old file atomically.
// False when the user cancelled a failure (the old file is then unchanged).
bool writeIni();

// Sets every field to its default and writes the file.
void makeDefaultIni();

// "LOD" 0, "OTR" 1, "ALL" 2 (any letter case), anything else -1.
int16_t fileKindIndex(const std::string& code);
// 0 "LOD", 1 "OTR", 2 "ALL", anything else "".
std::string fileKindCode(int16_t index);

// Fills HtIdTable and htIdCount from the file named by EnvSettings.htIdFile,
// writing the default file first when there is none.
void readIdInf();
// Writes the default terminal ID file at EnvSettings.htIdFile.
void makeDefaultIdInf();

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
