#include "core/reception/PortTable.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Names(const COMPORT_ENTRY* table, int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        names.emplace_back(table[i].szPortName);
    }
    return names;
}

} // namespace

TEST(PortTable, DescriptionIsCutBeforeComAtTheByteBeforeIt) {
    struct Case {
        const char* friendlyName;
        const char* expected;
    };
    const Case cases[] = {
        {"USB Serial Port (COM5)", "USB Serial Port "},
        {"Communications Port (COM1)", "Communications Port "},
        {"COM7", ""},   // "COM" at offset 0: nothing before it
        {"(COM7)", ""}, // offset 1: the one byte before it is dropped
        {"xyCOM", "x"},
        // Full-width "（" is 0x81 0x69: only its second byte goes, the lead byte stays.
        {"\x83\x56\x83\x8A\x83\x41\x83\x8B\x81\x69"
         "COM3\x81\x6A",
         "\x83\x56\x83\x8A\x83\x41\x83\x8B\x81"},
        // "COM" inside a double-byte character is no match: 0x83 'C' is one character.
        {"\x83"
         "COM",
         "\x83"
         "COM"},
        {"\x83"
         "CXCOM9",
         "\x83"
         "C"},
        // Without "COM" the friendly name is the description.
        {"FT232R USB UART", "FT232R USB UART"},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PortDescription(c.friendlyName), c.expected) << c.friendlyName;
    }
}

TEST(PortTable, LongDescriptionsStopAt255BytesWithoutSplittingACharacter) {
    EXPECT_EQ(PortDescription(std::string(300, 'a')), std::string(255, 'a'));
    // 254 single bytes then a double-byte character: it does not fit whole, so it goes.
    const std::string kanjiAtEdge = std::string(254, 'a') + "\x88\x9F" + "tail";
    EXPECT_EQ(PortDescription(kanjiAtEdge), std::string(254, 'a'));
    // A cut before a late "COM" is held to 255 bytes as well.
    EXPECT_EQ(PortDescription(std::string(300, 'b') + " COM1").size(), 255u);
}

TEST(PortTable, NamesSortWithNumbersByValue) {
    const std::vector<std::string> ordered = {"ttyACM0",  "ttyS0",     "ttyS2",   "ttyS10",
                                              "ttyS010",  "ttyUSB0",   "ttyUSB1", "ttyUSB9",
                                              "ttyUSB10", "ttyUSB10a", "ttyUSB11"};
    for (std::size_t i = 0; i < ordered.size(); ++i) {
        for (std::size_t j = 0; j < ordered.size(); ++j) {
            EXPECT_EQ(PortNameLess(ordered[i], ordered[j]), i < j)
                << ordered[i] << " vs " << ordered[j];
        }
    }
}

TEST(PortTable, RealPortsFirstInNameOrderThenVirtualPorts) {
    const std::vector<EnumeratedPort> ports = {{"pts/12", "KLT simulator", true},
                                               {"ttyS10", "", false},
                                               {"ttyUSB0", "USB Serial Port (COM5)", false},
                                               {"pts/3", "KLT simulator", true},
                                               {"ttyS2", "", false}};
    COMPORT_ENTRY table[MAX_COM_PORTS];
    const int count = FillPortTable(ports, table, MAX_COM_PORTS);
    EXPECT_EQ(Names(table, count),
              (std::vector<std::string>{"ttyS2", "ttyS10", "ttyUSB0", "pts/3", "pts/12"}));
    EXPECT_STREQ(table[2].szDescription, "USB Serial Port ");
    EXPECT_STREQ(table[3].szDescription, "KLT simulator");
}

TEST(PortTable, NamesBeyond258CharactersAndEmptyNamesArePassedOver) {
    const std::string longest(258, 'n');
    const std::vector<EnumeratedPort> ports = {
        {longest, "fits", false}, {std::string(259, 'x'), "too long", false}, {"", "none", false}};
    COMPORT_ENTRY table[MAX_COM_PORTS];
    const int count = FillPortTable(ports, table, MAX_COM_PORTS);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(std::string(table[0].szPortName), longest);
    EXPECT_EQ(table[0].szPortName[258], '\0');
}

TEST(PortTable, MoreThanTheTableHoldsKeepsTheFirstInOrder) {
    std::vector<EnumeratedPort> ports;
    for (int i = 299; i >= 0; --i) {
        ports.push_back({"ttyS" + std::to_string(i), "port", false});
    }
    ports.push_back({"pts/1", "sim", true});
    // A sentinel record after the table shows that nothing is written past its end.
    COMPORT_ENTRY table[MAX_COM_PORTS + 1];
    std::memset(&table[MAX_COM_PORTS], 0x5A, sizeof(COMPORT_ENTRY));
    const int count = FillPortTable(ports, table, MAX_COM_PORTS);
    ASSERT_EQ(count, MAX_COM_PORTS);
    EXPECT_STREQ(table[0].szPortName, "ttyS0");
    EXPECT_STREQ(table[MAX_COM_PORTS - 1].szPortName, "ttyS254");
    EXPECT_EQ(table[MAX_COM_PORTS].szPortName[0], 0x5A);
}
