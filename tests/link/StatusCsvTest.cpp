// Text forms of a status reading: the CSV row the exports share and the terminal's aligned columns.
#include <gtest/gtest.h>

#include "link/StatusCsv.h"

TEST(StatusCsv, RowsCarryTheValuesAsTheLabelsShowThem) {
    EXPECT_STREQ(STATUS_CSV_HEADER, "time_ms,position,speed,load,voltage,temperature");
    EXPECT_EQ(StatusCsvRow(0, {512, -100, 25, 74, 31}), "0,512,-100,25,7.4,31");
    // Below one volt the leading zero stays; a reading past 25.5 V cannot occur in one byte.
    EXPECT_EQ(StatusCsvRow(3600000, {-5, 0, -1023, 5, 0}), "3600000,-5,0,-1023,0.5,0");
    EXPECT_EQ(StatusCsvRow(12, {1023, 1023, 0, 255, 255}), "12,1023,1023,0,25.5,255");
}

TEST(StatusCsv, ColumnsLineUpUnderTheirHeadings) {
    const std::string header = StatusColumnsHeader();
    const std::string narrow = StatusColumnsRow(0, {0, 0, 0, 0, 0});
    const std::string wide = StatusColumnsRow(1234567, {-1023, -1023, -1023, 255, 255});
    EXPECT_EQ(header.size(), narrow.size());
    EXPECT_EQ(header.size(), wide.size());
    // Every heading ends where its column's values end.
    for (const char* heading : {"time_ms", "position", "speed", "load", "voltage", "temperature"}) {
        const std::size_t end = header.find(heading) + std::string(heading).size();
        EXPECT_NE(narrow[end - 1], ' ') << heading;
        EXPECT_TRUE(end == header.size() || narrow[end] == ' ') << heading;
        EXPECT_NE(wide[end - 1], ' ') << heading;
    }
    EXPECT_NE(wide.find("25.5"), std::string::npos);
}

// Several servos in one table: the ID after the time, and the alarm bits by short name at the end.
TEST(StatusCsv, MultiServoRowsNameTheServoAndItsAlarms) {
    EXPECT_STREQ(MULTI_STATUS_CSV_HEADER, "time_ms,id,position,speed,load,voltage,temperature,alarms");
    EXPECT_EQ(MultiStatusCsvRow(20, 3, {512, -100, 25, 74, 31}, ""), "20,3,512,-100,25,7.4,31,");
    EXPECT_EQ(MultiStatusCsvRow(0, 253, {0, 0, 0, 140, 90}, "over-voltage+over-heat+over-load"),
              "0,253,0,0,0,14.0,90,over-voltage+over-heat+over-load");
    const std::string header = MultiStatusColumnsHeader();
    const std::string row = MultiStatusColumnsRow(1234567, 12, {-1023, -1023, -1023, 255, 255}, "over-heat");
    for (const char* heading : {"time_ms", "id", "position", "temperature"}) {
        const std::size_t end = header.find(heading) + std::string(heading).size();
        EXPECT_NE(row[end - 1], ' ') << heading;
        EXPECT_EQ(row[end], ' ') << heading;
    }
    EXPECT_EQ(row.substr(header.find("alarms")), "over-heat");
}

TEST(StatusCsv, TheMonitorsLinesEndWithTheAlarmsAndKeepTheColumnsAligned) {
    EXPECT_STREQ(MONITOR_CSV_HEADER, "time_ms,position,speed,load,voltage,temperature,alarms");
    EXPECT_EQ(MonitorCsvRow(10, {512, 0, 0, 30, 90}, "under-voltage+over-heat"),
              "10,512,0,0,3.0,90,under-voltage+over-heat");
    EXPECT_EQ(MonitorCsvRow(10, {512, 0, 0, 74, 31}, ""), "10,512,0,0,7.4,31,");
    // The plain columns stay where the plot's export has them; the alarms follow the temperature.
    EXPECT_EQ(MonitorColumnsHeader(), StatusColumnsHeader() + " alarms");
    EXPECT_EQ(MonitorColumnsRow(5, {1, 2, 3, 74, 31}, "over-load"),
              StatusColumnsRow(5, {1, 2, 3, 74, 31}) + " over-load");
    EXPECT_EQ(MonitorColumnsRow(5, {1, 2, 3, 74, 31}, ""), StatusColumnsRow(5, {1, 2, 3, 74, 31}));
}
