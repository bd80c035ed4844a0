#include "auxinputs/aux_law_grid.h"

#include "auxinputs/aux_inputs.h"

#include <gtest/gtest.h>

namespace kv {

namespace {

using Cells = std::vector<std::pair<std::string, std::string>>;

Cells Shown(const AuxLawGrid& g) {
    Cells out;
    for (const auto& r : g.Rows()) out.emplace_back(r.volts, r.value);
    return out;
}

TEST(AuxLawGrid, ShowsTheLawAndEditsRowsIntoIt) {
    AuxInputs aux;
    AuxLawGrid grid(aux, 5);
    EXPECT_EQ(Shown(grid), (Cells{{"0", "9"}, {"5", "19"}}));

    grid.AddRow();
    EXPECT_EQ(Shown(grid), (Cells{{"0", "9"}, {"5", "19"}, {"", ""}}));
    EXPECT_TRUE(grid.SetCell(2, 0, "2.5"));
    EXPECT_EQ(aux.GetAuxLawSize(5), 2); // half a row is not a point yet
    EXPECT_TRUE(grid.SetCell(2, 1, "14"));
    EXPECT_EQ(Shown(grid), (Cells{{"0", "9"}, {"2.5", "14"}, {"5", "19"}}));

    // Editing the voltage of a row moves its point, keeping law order.
    EXPECT_TRUE(grid.SetCell(0, 0, "4"));
    EXPECT_EQ(Shown(grid), (Cells{{"2.5", "14"}, {"4", "9"}, {"5", "19"}}));
    EXPECT_FALSE(grid.SetCell(0, 1, "abc"));
    EXPECT_FALSE(grid.SetCell(9, 1, "1"));
    EXPECT_EQ(aux.GetAuxLawSize(5), 3);
}

TEST(AuxLawGrid, PendingRowsSurviveOtherEdits) {
    AuxInputs aux;
    AuxLawGrid grid(aux, 1);
    EXPECT_EQ(Shown(grid), (Cells{{"0", "0"}}));
    grid.AddRow();
    grid.SetCell(1, 0, "3");
    grid.AddRow();
    grid.SetCell(2, 0, "1");
    grid.SetCell(2, 1, "7");
    // The placeholder is replaced by the first real point; the half-filled row stays.
    EXPECT_EQ(Shown(grid), (Cells{{"1", "7"}, {"3", ""}}));
    EXPECT_EQ(aux.GetAuxLawSize(1), 1);
    EXPECT_EQ(aux.GetAuxLawIn(1, 0), 1.0);
}

TEST(AuxLawGrid, DeleteRowsRemovesTheirPoints) {
    AuxInputs aux;
    for (double v : {1.0, 2.0, 3.0, 4.0}) aux.AddAuxLawPoint(2, v, v * 10);
    AuxLawGrid grid(aux, 2);
    grid.DeleteRows(2, 1);
    EXPECT_EQ(Shown(grid), (Cells{{"1", "10"}, {"4", "40"}}));
    grid.DeleteRows(0, 99);
    EXPECT_EQ(Shown(grid), (Cells{{"0", "0"}}));
    EXPECT_TRUE(aux.IsAuxLawDefault(2));
}

TEST(AuxLawGrid, CopyJoinsCellsWithTabsAndRowsWithCrLf) {
    AuxInputs aux;
    AuxLawGrid grid(aux, 5);
    EXPECT_EQ(grid.CopyText(0, 0, 1, 1), "0\t9\r\n5\t19\r\n");
    EXPECT_EQ(grid.CopyText(1, 1, 0, 1), "9\r\n19\r\n");
}

TEST(AuxLawGrid, PasteRules) {
    struct Case {
        const char* label;
        std::string text;
        std::optional<std::string> message;
        Cells shown;
    } cases[] = {
        {"two columns", "1\t11\r\n3\t13\r\n", std::nullopt, {{"0", "9"}, {"1", "11"}, {"3", "13"}, {"5", "19"}}},
        {"lf only, no final newline", "2.5\t15\n5\t20", std::nullopt, {{"0", "9"}, {"2.5", "15"}, {"5", "20"}}},
        {"comma decimals", "1,5\t-2,25\r\n", std::nullopt, {{"0", "9"}, {"1.5", "-2.25"}, {"5", "19"}}},
        {"three columns", "1\t2\t3\r\n", kAuxPasteColumnsMessage, {{"0", "9"}, {"5", "19"}}},
        {"one column", "1\r\n2\r\n", kAuxPasteColumnsMessage, {{"0", "9"}, {"5", "19"}}},
        {"one bad line among good", "1\t2\r\n3\r\n", kAuxPasteColumnsMessage, {{"0", "9"}, {"5", "19"}}},
        {"empty clipboard", "", kAuxPasteColumnsMessage, {{"0", "9"}, {"5", "19"}}},
        {"letters", "1\tx\r\n", kAuxPasteNumbersMessage, {{"0", "9"}, {"5", "19"}}},
        {"voltage too high", "5.5\t1\r\n", kAuxPasteNumbersMessage, {{"0", "9"}, {"5", "19"}}},
        {"value too large", "1\t2000000\r\n", kAuxPasteNumbersMessage, {{"0", "9"}, {"5", "19"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        AuxInputs aux;
        AuxLawGrid grid(aux, 5);
        EXPECT_EQ(grid.Paste(c.text), c.message);
        EXPECT_EQ(Shown(grid), c.shown);
    }
}

TEST(AuxLawGrid, NumberTexts) {
    EXPECT_EQ(AuxNumberText(2.5), "2.5");
    EXPECT_EQ(AuxNumberText(-0.0), "0");
    EXPECT_EQ(AuxNumberText(1e6), "1000000");
    EXPECT_EQ(ParseAuxNumber(" 4.5 "), 4.5);
    EXPECT_EQ(ParseAuxNumber("-"), std::nullopt);
    EXPECT_EQ(ParseAuxNumber("1.2.3"), std::nullopt);
    EXPECT_EQ(ParseAuxNumber("inf"), std::nullopt);
    EXPECT_EQ(ParseAuxNumber("+3"), 3.0);
}

} // namespace

} // namespace kv
