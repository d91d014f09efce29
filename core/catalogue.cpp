#include "catalogue.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace quendril {

namespace {

struct Entry {
    int id;
    std::string_view text;
};

// Kept sorted by id: lists are loaded as base + index until their "end" entry.
constexpr auto kCatalogue = std::to_array<Entry>({
    // Main window.
    {1100, "Settings(&F)"},
    {1101, "Operative setting"},
    {1102, "File setting"},
    {1103, "Communication setting"},
    {1104, "Icon and communication"},
    {1105, "Exit QUENDRIL(&X)"},
    {1106, "Execute(&R)"},
    {1107, "Version(&V)"},
    {1110, "Status"},
    {1111, "Job Type"},
    {1112, "HT ID"},
    {1113, "File Name"},
    {1114, "Error Information"},
    {1115, "Connected HTs"},
    {1116, "White:Waiting"},
    {1117, "Blue :Done"},
    {1118, "Red  :Error end"},
    {1120, "Cancel"},
    {1130, "Polling"},
    {1131, "Transmitting"},
    {1140, "AP Install"},
    {1141, "Receive File"},
    {1142, "Transmit File"},
    // Settings dialogs.
    {1200, "Configuration"},
    {1210, "Number of current settings"},
    {1211, "No. of connecting I/O Boxes"},
    {1300, "File setting"},
    {1310, "Application storage directory"},
    {1311, "Receiving data storage directory"},
    {1312, "Transmitting data storage directory"},
    {1313, "Transmitting file type"},
    {1320, "OK"},
    {1330, "Cancel"},
    {1340, "Only AP appointment file"},
    {1341, "Others"},
    {1342, "All"},
    {1350, "Append Mode"},
    {1400, "Communication"},
    {1410, "COM speed"},
    {1411, "Parity"},
    {1412, "Data length"},
    {1413, "Stop bit"},
    {1414, "COM port"},
    {1420, "OK"},
    {1430, "Cancel"},
    // Communication setting lists, one running counter, each closed by "end".
    {1440, "1200BPS"},
    {1441, "2400BPS"},
    {1442, "4800BPS"},
    {1443, "9600BPS"},
    {1444, "19200BPS"},
    {1445, "38400BPS"},
    {1446, "57600BPS"},
    {1447, "115200BPS"},
    {1448, "end"},
    {1449, "None"},
    {1450, "Odd"},
    {1451, "Even"},
    {1452, "end"},
    {1453, "8bit"},
    {1454, "7bit"},
    {1455, "end"},
    {1456, "1bit"},
    {1457, "2bit"},
    {1458, "end"},
    {1459, "COM0"},
    {1460, "COM1"},
    {1461, "end"},
    // Application errors.
    {1700, "No environment setting file"},
    {1701, "No HTID Infomation file"},
    {1702, "Environment settingfile error"},
    {1703, "Open error"},
    {1704, "Unknown error"},
    // Communication results.
    {1800, "Done"},
    {1801, "Parity Error"},
    {1802, "Overrun Error"},
    {1803, "Framing Error"},
    {1804, "Fatal Error"},
    {1805, "Time Out"},
    {1806, "Protocol Error"},
    {1807, "File Open Error"},
    {1808, "File Read Error"},
    {1809, "File Write Error"},
    {1810, "Error Block"},
    {1811, "Transfer Error"},
    {1812, "Buffer Full Error"},
    {1813, "Pending data appended"},
    {1814, "Pending data kept in TEMP"},
    // File errors.
    {1952, "File nume/number error"},
    {1953, "No file name"},
    {1954, "File mode error"},
    {1955, "The file is Opened already"},
    {1957, "Device I/O error"},
    {1958, "A file of same name exists already"},
    {1961, "Not enough free area"},
    {1967, "Too meny files"},
    {1968, "No device prepared"},
    {1970, "Protected"},
    {1971, "No disc"},
    {1975, "Pass error"},
    {1976, "No Pass"},
});

constexpr bool sortedById() {
    for (std::size_t i = 1; i < kCatalogue.size(); ++i) {
        if (kCatalogue[i - 1].id >= kCatalogue[i].id) return false;
    }
    return true;
}
static_assert(sortedById(), "catalogue must stay sorted by id");

}  // namespace

std::string loadResString(int id) {
    auto it = std::lower_bound(kCatalogue.begin(), kCatalogue.end(), id,
                               [](const Entry& e, int key) { return e.id < key; });
    if (it == kCatalogue.end() || it->id != id) return {};
    return std::string(it->text);
}

}  // namespace quendril
