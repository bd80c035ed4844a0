// Comparing the parameter pages of two images: which settings differ, in the texts the pages show.
#include "eprom/base_images.h"
#include "eprom/eprom_image.h"
#include "params/param_compare.h"
#include "params/param_page.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

using namespace kv;

namespace kv {
void PrintTo(const SettingDifference& d, std::ostream* os) {
    *os << d.key << " [" << d.label << "] " << d.text << " -> " << d.otherText;
}
} // namespace kv

namespace {

struct Loaded {
    EpromContext context;
    std::unique_ptr<EPROM> image;
    std::unique_ptr<ParamPage> page;
};

std::unique_ptr<Loaded> Open(const std::string& base) {
    auto l = std::make_unique<Loaded>();
    l->image = std::make_unique<EPROM>(l->context);
    EXPECT_EQ(LoadBaseImage(base, *l->image), "");
    l->context.wordBigEndian = l->image->GetCreator() != 2;
    l->page = MakeParamPage(*l->image, {});
    EXPECT_NE(l->page, nullptr);
    l->page->Load();
    return l;
}

struct Case {
    const char* name;
    const char* base;
    std::function<void(ParamPage&)> change; // made on the second image's page
    std::vector<SettingDifference> expected;
};

class SettingsCompared : public ::testing::TestWithParam<Case> {};

TEST_P(SettingsCompared, ExactlyTheChangedSettingsDifferInTheirShownTexts) {
    const Case& c = GetParam();
    auto a = Open(c.base);
    auto b = Open(c.base);
    c.change(*b->page);
    a->page->Load();
    b->page->Load();
    EXPECT_EQ(CompareSettings(*a->page, *b->page), c.expected);
}

std::vector<Case> Cases() {
    return {
        {"same image", "MRX_D", [](ParamPage&) {}, {}},
        {"number",
         "MRX_D",
         [](ParamPage& p) { p.SetValue("rev_limit_rpm", -38); },
         {{"rev_limit_rpm", SettingLabel(*Open("MRX_D")->page, "rev_limit_rpm"), "6170", "6340"}}},
        {"option by its caption",
         "MRX_D",
         [](ParamPage& p) { p.SelectOption("co_pot", 1); },
         {{"co_pot", SettingLabel(*Open("MRX_D")->page, "co_pot"), "Disabled", "Enabled"}}},
        {"check box",
         "EZK_D-S4",
         [](ParamPage& p) { p.SetChecked("wot_ignored", true); },
         {{"wot_ignored", SettingLabel(*Open("EZK_D-S4")->page, "wot_ignored"), "off", "on"}}},
        {"number switched off by its check box",
         "MRX_D",
         [](ParamPage& p) { p.SetChecked("decel_cutoff", false); },
         {{"decel_cutoff", SettingLabel(*Open("MRX_D")->page, "decel_cutoff"), "on", "off"}}},
    };
}

INSTANTIATE_TEST_SUITE_P(Changes, SettingsCompared, ::testing::ValuesIn(Cases()), [](const auto& info) {
    std::string n = info.param.name;
    for (char& ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return n;
});

TEST(SettingsCompared, PagesOfDifferentUnitsShareNothing) {
    EXPECT_TRUE(CompareSettings(*Open("MRX_D")->page, *Open("EZK_D-S4")->page).empty());
}

TEST(SettingsCompared, TheS4AndGTSIgnitionImagesDifferOnlyInSettingsWithDifferentTexts) {
    auto s4 = Open("EZK_D-S4");
    auto gts = Open("EZK_D-GTS");
    const auto differences = CompareSettings(*s4->page, *gts->page);
    for (const auto& d : differences) {
        SCOPED_TRACE(d.key);
        EXPECT_NE(d.text, d.otherText);
        EXPECT_EQ(d.text, ShownSettingText(*s4->page, d.key));
        EXPECT_EQ(d.otherText, ShownSettingText(*gts->page, d.key));
        EXPECT_FALSE(d.label.empty());
    }
    // Compared the other way round, the same settings with the texts swapped.
    const auto back = CompareSettings(*gts->page, *s4->page);
    ASSERT_EQ(back.size(), differences.size());
    for (std::size_t i = 0; i < back.size(); ++i) {
        EXPECT_EQ(back[i].key, differences[i].key);
        EXPECT_EQ(back[i].text, differences[i].otherText);
    }
}

} // namespace
