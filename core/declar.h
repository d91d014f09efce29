// Program-wide records and variables shared by the settings, comm and window code.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace quendril {

// The settings of hostpc.ini. Numeric settings stay fixed-width digit texts,
// exactly as stored; code that needs a number converts where it uses it.
// Texts are bytes of the single-byte code page.
struct EnvSettingsRecord {
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
};

// One terminal of the terminal ID file.
struct HtIdEntry {
    std::string htId;
    std::string recvDir;
    std::string sendDir;
    std::string fileKind;    // 3; three blanks: use the settings' file type
};

inline constexpr int kHtIdSlots = 128;
inline constexpr const char* kWildcardId = "&&&&&&";

// Kind of job a terminal asks for; index of the job type texts.
enum JobKind : int16_t { kJobApInstall = 0, kJobReceive = 1, kJobTransmit = 2 };
// Result of the polling and job procedures.
enum JobOutcome : int16_t { kOutcomeDone = 0, kOutcomeFailed = 1, kOutcomeStop = 2 };
// State of a connected terminal in the terminal table.
enum HtState : int16_t { kHtWaiting = 0, kHtDone = 1, kHtErrorEnd = 2 };

extern EnvSettingsRecord EnvSettings;
extern std::array<HtIdEntry, kHtIdSlots> HtIdTable;
extern int16_t htIdCount;
// Current directory at start-up + separator + "TEMP"; empty until start-up sets it.
extern std::string tempDir;
// Set by Cancel, cleared at the start of every run.
extern bool stopRequested;

}  // namespace quendril
