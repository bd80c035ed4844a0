#include "datalog/log_setup.h"

#include "auxinputs/aux_inputs.h"
#include "datalog_test_util.h"
#include "fakes.h"

#include <gtest/gtest.h>

#include <set>

namespace kv {

namespace {

using namespace datalog_test;

std::set<int> Shown(const LogSetup& setup) {
    std::set<int> shown;
    for (int s = 0; s < kLogSlotCount; ++s) {
        const LogSlotState& slot = setup.Slots()[static_cast<std::size_t>(s)];
        EXPECT_EQ(slot.visible, !slot.caption.empty()) << "slot " << s;
        EXPECT_EQ(slot.enabled, !slot.caption.empty()) << "slot " << s;
        if (slot.caption.empty()) {
            EXPECT_FALSE(slot.checked) << "an empty slot is cleared: " << s;
        }
        if (slot.visible) shown.insert(s);
    }
    return shown;
}

std::set<int> Range(int first, int last) {
    std::set<int> r;
    for (int s = first; s <= last; ++s) r.insert(s);
    return r;
}

std::set<int> Union(std::initializer_list<std::set<int>> parts) {
    std::set<int> all;
    for (const auto& p : parts) all.insert(p.begin(), p.end());
    return all;
}

TEST(LogCatalogue, FollowsTheTabStates) {
    struct Case {
        const char* label;
        std::vector<const char*> commands;
        int ezkRevision;
        std::set<int> shown;
        bool knockFrame;
    };
    const Case cases[] = {
        {"window made", {""}, 8, {}, false},
        {"LH 2.3", {"", "LH"}, 8, Range(0, 12), false},
        {"EZK of revision 2 shows knock retard", {"", "EZK"}, 2, Range(23, 31), true},
        {"EZK of revision 1 has no knock retard", {"", "EZK"}, 1, Range(23, 30), true},
        {"EZK of revision 0 has no knock retard", {"", "EZK"}, 0, Range(23, 30), true},
        {"removing the EZK clears slot 31 too", {"", "EZK", "!EZK"}, 8, {}, false},
        {"LH 2.2 and EZF", {"", "LH22", "EZF"}, 8, Union({Range(13, 22), Range(32, 40)}), false},
        {"LH 2.3 and EZK", {"", "LH", "EZK"}, 8, Union({Range(0, 12), Range(23, 31)}), true},
        {"fuel unit swapped", {"", "LH", "EZK", "!LH", "LH22"}, 8, Union({Range(13, 22), Range(23, 31)}), true},
        {"ignition unit swapped", {"", "EZK", "!EZK", "EZF"}, 8, Range(32, 40), false},
        {"refresh keeps what is shown", {"", "LH", "Refresh"}, 8, Range(0, 12), false},
        {"empty text clears all", {"", "LH", "EZF", ""}, 8, {}, false},
    };
    const EPROM empty;
    const AuxInputs aux;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const EPROM ignition = Load(eprom_test::EZKImage(c.ezkRevision));
        LogSetup setup;
        for (const char* command : c.commands) setup.SetupLogVariables(command, ignition, aux);
        EXPECT_EQ(Shown(setup), c.shown);
        EXPECT_EQ(setup.Knock().frameVisible, c.knockFrame);
        for (int s : c.shown) {
            const LogSlotState& slot = setup.Slots()[static_cast<std::size_t>(s)];
            EXPECT_EQ(slot.caption, LogSlotTable()[static_cast<std::size_t>(s)].caption);
            EXPECT_EQ(slot.key, LogSlotTable()[static_cast<std::size_t>(s)].key);
        }
    }
}

TEST(LogCatalogue, KeysCaptionsAndHeadersThatDifferFromTheirNeighbours) {
    const AuxInputs aux;
    EXPECT_EQ(SlotKey(30), "EZK_THROTTLE");
    EXPECT_STREQ(LogSlotTable()[30].caption, "Throttle  position");
    EXPECT_STREQ(LogSlotTable()[9].caption, "Throttle position");
    EXPECT_STREQ(LogSlotTable()[7].caption, "Coolant temp (\xC2\xB0 C)");
    EXPECT_EQ(SlotHeaders(7, aux), std::vector<std::string>{"Coolant temp [\xC2\xB0"
                                                            "C]"});
    EXPECT_EQ(SlotHeaders(31, aux), (std::vector<std::string>{"KR1", "KR2", "KR3", "KR4", "KR5", "KR6", "KR7", "KR8"}));
    EXPECT_EQ(SlotHeaders(11, aux), std::vector<std::string>{"Flappy (1=open, 0=closed)"});
    EXPECT_EQ(SlotKey(44), "AUX4");
}

TEST(LogCatalogue, EZKKnockRetardKeptChosenWhileItsSlotIsEmpty) {
    MemorySettings settings;
    settings.values[{kDataLogSection, "Variables"}] = "EZK_RPM,EZK_KNOCKRETARD";
    const AuxInputs aux;
    LogSetup setup;
    setup.LoadDataLogSettings(settings);
    setup.SetupLogVariables("", EPROM(), aux);
    setup.SetupLogVariables("EZK", Load(eprom_test::EZKImage(1)), aux);
    EXPECT_TRUE(setup.IsSelected(23));
    EXPECT_FALSE(setup.IsSelected(31));
    // The newer image shows it again, ticked.
    setup.SetupLogVariables("!EZK", EPROM(), aux);
    setup.SetupLogVariables("EZK", Load(eprom_test::EZKImage(8)), aux);
    EXPECT_TRUE(setup.IsSelected(31));
}

TEST(LogCatalogue, AuxSlotsTakeTheInputsNamesAndUnits) {
    AuxInputs aux;
    aux.SetAuxEnabled(2, true);
    aux.SetAuxName(2, "Boost");
    aux.SetAuxUnit(2, "psi");
    aux.SetAuxEnabled(3, true); // no name
    aux.SetAuxName(4, "Off");   // disabled
    LogSetup setup;
    setup.SetupLogVariables("", EPROM(), aux);
    struct Case {
        int slot;
        std::string caption;
        std::vector<std::string> headers;
    };
    const Case cases[] = {
        {41, "", {"(aux 1)"}},
        {42, "Boost", {"Boost (aux 2) [psi]"}},
        {43, "(aux 3)", {"(aux 3)"}},
        {44, "", {"(aux 4)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.slot);
        EXPECT_EQ(setup.Slots()[static_cast<std::size_t>(c.slot)].caption, c.caption);
        EXPECT_EQ(setup.Slots()[static_cast<std::size_t>(c.slot)].key, "AUX" + std::to_string(c.slot - 40));
        EXPECT_EQ(SlotHeaders(c.slot, aux), c.headers);
    }
    // Laid out in their own frame: the first shown aux slot at the top.
    EXPECT_EQ(setup.Slots()[42].top, kSlotTop0);
    EXPECT_EQ(setup.Slots()[43].top, kSlotTop0 + kSlotRowStep);
    // "Refresh" after the dialog changed them.
    aux.SetAuxEnabled(2, false);
    aux.SetAuxEnabled(1, true);
    aux.SetAuxName(1, "Oil");
    setup.SetupLogVariables(kRefreshCommand, EPROM(), aux);
    EXPECT_EQ(setup.Slots()[41].caption, "Oil");
    EXPECT_EQ(setup.Slots()[42].caption, "");
    EXPECT_FALSE(setup.Slots()[42].visible);
    EXPECT_EQ(setup.Slots()[43].top, kSlotTop0 + kSlotRowStep);
}

TEST(LogLayout, ColumnsOfSevenPerFrame) {
    const AuxInputs aux;
    LogSetup setup;
    const EPROM ezk = Load(eprom_test::EZKImage(8));
    setup.SetupLogVariables("", ezk, aux);
    setup.SetupLogVariables("LH", ezk, aux);
    setup.SetupLogVariables("LH22", ezk, aux);
    setup.SetupLogVariables("EZK", ezk, aux);
    struct Case {
        int slot, top, left;
    };
    const Case cases[] = {
        {0, 240, 240},   {6, 1680, 240},  {7, 240, 2280}, {12, 1440, 2280}, {13, 1680, 2280},
        {14, 240, 4320}, {22, 480, 6360}, {23, 240, 240}, {30, 240, 2280},  {31, 480, 2280},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.slot);
        EXPECT_EQ(setup.Slots()[static_cast<std::size_t>(c.slot)].top, c.top);
        EXPECT_EQ(setup.Slots()[static_cast<std::size_t>(c.slot)].left, c.left);
    }
    // Without the LH 2.3 the LH 2.2 slots move up to the first places.
    setup.SetupLogVariables("!LH", ezk, aux);
    EXPECT_EQ(setup.Slots()[13].top, 240);
    EXPECT_EQ(setup.Slots()[13].left, 240);
    EXPECT_EQ(setup.Slots()[20].left, 2280);
}

TEST(LogSelection, TickingAndClearingKeepsOneEntryPerKey) {
    const AuxInputs aux;
    LogSetup setup;
    setup.SetupLogVariables("LH", EPROM(), aux);
    setup.OnVariableChecked(2, true);
    setup.OnVariableChecked(0, true);
    setup.OnVariableChecked(2, false);
    setup.OnVariableChecked(2, true);
    setup.OnVariableChecked(2, true);
    int count = 0;
    for (const std::string& e : setup.SelectionList()) count += e == "LH_MAFPERCENT";
    EXPECT_EQ(count, 1);
    // The freed entry was taken again: list order is the order the keys were chosen in.
    EXPECT_EQ(setup.SelectionList()[0], "LH_MAFPERCENT");
    EXPECT_EQ(setup.SelectionList()[1], "LH_RPM");
    EXPECT_TRUE(setup.IsSelected(2));
    setup.OnVariableChecked(2, false);
    EXPECT_FALSE(setup.IsSelected(2));
    EXPECT_EQ(setup.SelectionList()[0], "");
    // An empty slot takes no ticks.
    setup.OnVariableChecked(23, true);
    EXPECT_FALSE(setup.IsSelected(23));
}

TEST(LogSelection, KeysOfAbsentUnitsStayAndAreWrittenBack) {
    MemorySettings settings;
    settings.values[{kDataLogSection, "Variables"}] = "EZF_RPM,LH_RPM";
    settings.values[{kDataLogSection, "Rate"}] = "20";
    settings.values[{kDataLogSection, "Trigger"}] = "RPM";
    const AuxInputs aux;
    LogSetup setup;
    setup.LoadDataLogSettings(settings);
    setup.SetupLogVariables("LH", EPROM(), aux);
    EXPECT_TRUE(setup.IsSelected(0));
    EXPECT_FALSE(setup.IsSelected(32));
    setup.OnVariableChecked(10, true);
    setup.SaveDataLogSettings(settings);
    EXPECT_EQ((settings.values[{kDataLogSection, "Variables"}]), "EZF_RPM,LH_RPM,LH_BATTVOLT");
    EXPECT_EQ((settings.values[{kDataLogSection, "Rate"}]), "20");
    EXPECT_EQ((settings.values[{kDataLogSection, "Trigger"}]), "RPM");
    // The EZF comes back: its slot is ticked again.
    setup.SetupLogVariables("EZF", EPROM(), aux);
    EXPECT_TRUE(setup.IsSelected(32));
}

TEST(LogSelection, AFullListTakesNoMoreKeys) {
    MemorySettings settings;
    std::string many;
    for (int i = 0; i < kSelectionListSize; ++i) many += (i ? "," : "") + std::string("K") + std::to_string(i);
    settings.values[{kDataLogSection, "Variables"}] = many;
    const AuxInputs aux;
    LogSetup setup;
    setup.LoadDataLogSettings(settings);
    setup.SetupLogVariables("LH", EPROM(), aux);
    setup.OnVariableChecked(0, true);
    EXPECT_TRUE(setup.IsSelected(0));
    for (const std::string& e : setup.SelectionList()) EXPECT_NE(e, "LH_RPM");
}

TEST(DataLogSettings, ValidatesRateAndTrigger) {
    struct Case {
        std::optional<std::string> rate;
        int expected;
    };
    const Case rates[] = {{std::nullopt, 10}, {"20", 20}, {"5", 5},    {"1", 1}, {"99", 99},  {"0", 10},
                          {"100", 10},        {"-5", 10}, {"abc", 10}, {"", 10}, {"5.5", 10}, {"12x", 10}};
    for (const Case& c : rates) {
        MemorySettings settings;
        if (c.rate) settings.values[{kDataLogSection, "Rate"}] = *c.rate;
        EXPECT_EQ(DataLogSettings(settings).Rate(), c.expected) << c.rate.value_or("(missing)");
    }
    struct TriggerCase {
        const char* text;
        std::optional<LogTrigger> expected;
    };
    const TriggerCase triggers[] = {
        {"None", LogTrigger::None}, {"WOT", LogTrigger::Wot}, {"RPM", LogTrigger::Rpm},
        {"wot", std::nullopt},      {"", std::nullopt},       {"RPM ", std::nullopt},
    };
    for (const TriggerCase& c : triggers) {
        MemorySettings settings;
        settings.values[{kDataLogSection, "Trigger"}] = c.text;
        EXPECT_EQ(DataLogSettings(settings).Trigger(), c.expected) << c.text;
    }
}

TEST(DataLogSettings, NoTriggerChosenWritesNone) {
    MemorySettings settings;
    const AuxInputs aux;
    LogSetup setup;
    setup.LoadDataLogSettings(settings);
    setup.SaveDataLogSettings(settings);
    EXPECT_EQ(settings.values.count({kDataLogSection, "Trigger"}), 0u);
    EXPECT_EQ((settings.values[{kDataLogSection, "Variables"}]), "");
    EXPECT_EQ((settings.values[{kDataLogSection, "Rate"}]), "10");
}

TEST(LogRate, ListKeepsTheLoadedRateAndSetsTheTimer) {
    struct Case {
        const char* saved;
        int index;
    };
    const Case cases[] = {{"20", 2}, {"5", 0}, {"10", 1}, {"7", 1}, {"junk", 1}};
    for (const Case& c : cases) {
        MemorySettings settings;
        settings.values[{kDataLogSection, "Rate"}] = c.saved;
        LogSetup setup;
        setup.LoadDataLogSettings(settings);
        setup.FillRateList();
        EXPECT_EQ(setup.RateItems(), (std::vector<std::string>{"5", "10", "20"}));
        EXPECT_EQ(setup.RateIndex(), c.index) << c.saved;
    }
    LogSetup setup;
    setup.FillRateList();
    EXPECT_EQ(setup.TimerIntervalMs(), 100);
    EXPECT_EQ(setup.OnRateChanged(0), 200);
    EXPECT_EQ(setup.OnRateChanged(2), 50);
    EXPECT_EQ(setup.OnRateChanged(1), 100);
}

} // namespace

} // namespace kv
