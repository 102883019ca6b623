// The colour schemes: each scheme's own colours and the shared rules in their
// order, colours that carry over from the scheme chosen before, "Hide Me",
// the progress bar's colours as drawn, and the schemes recognised in German
// and Dutch.
#include "app/colours.h"

#include "drive/strings.h"
#include "tests/app/window_test_util.h"

#include <QProgressBar>
#include <gtest/gtest.h>

using namespace window_test;

namespace {

constexpr quint32 rgb(int r, int g, int b) { return quint32(r) | (quint32(g) << 8) | (quint32(b) << 16); }
constexpr quint32 sys(int n) { return 0x80000000u | quint32(n); }

class ColourSchemes : public ::testing::Test {
protected:
    void SetUp() override { w = &CreateMainWindow(); }
    void TearDown() override
    {
        DestroyMainWindow();
        SetCurrentLanguageId(9);
    }
    void choose(int entry) { w->ListColors.setListIndex(entry); }
    std::optional<quint32> bar() const { return ProgressBarColor(w->ProgressBar1.hWnd()); }
    std::optional<quint32> barBack() const { return ProgressBackColor(w->ProgressBar1.hWnd()); }
    frmRecover *w = nullptr;
};

} // namespace

TEST_F(ColourSchemes, DarkGivesGreyPanelsAndYellowInformation)
{
    w->ListColors.setBackColor(rgb(1, 2, 3));   // what an earlier choice left there
    w->ListColors.setForeColor(rgb(4, 5, 6));
    choose(1);
    const quint32 grey = rgb(128, 128, 128), yellow = rgb(255, 255, 34);
    EXPECT_EQ(w->BackColor(), grey);
    EXPECT_EQ(w->List3.BackColor(), grey);
    EXPECT_EQ(w->lblHelp.ForeColor(), rgb(238, 238, 238));
    EXPECT_EQ(w->lblSpecs.BackColor(), grey);
    EXPECT_EQ(w->lblSpecs.ForeColor(), yellow);
    EXPECT_EQ(w->txtExif.BackColor(), grey);
    EXPECT_EQ(w->txtExif.ForeColor(), rgb(255, 255, 255));
    EXPECT_EQ(w->Picture4.BackColor(), grey);
    EXPECT_EQ(bar(), rgb(80, 80, 80));
    EXPECT_EQ(barBack(), rgb(176, 176, 170));
    // Rule 9 replaces the scheme's box colour; rules 3-5 copy the list's
    // colours, which the scheme leaves as they were; rule 14 replaces 3.
    EXPECT_EQ(w->TxtWidth.BackColor(), grey);
    EXPECT_EQ(w->TxtWidth.ForeColor(), rgb(255, 255, 255));
    EXPECT_EQ(w->ListFilters.BackColor(), rgb(1, 2, 3));
    EXPECT_EQ(w->ListFilters.ForeColor(), rgb(4, 5, 6));
    EXPECT_EQ(w->LvwTypes.BackColor(), grey);
    EXPECT_EQ(w->LvwTypes.ForeColor(), yellow);
    EXPECT_EQ(w->CmbTypeSelect.ForeColor(), yellow);
    EXPECT_EQ(w->ChkDeep.ForeColor(), yellow);
    EXPECT_EQ(w->ChkDeep.BackColor(), grey);
    EXPECT_EQ(w->ChkDamaged.ForeColor(), yellow);
    EXPECT_EQ(w->List1.BackColor(), grey);
    EXPECT_EQ(w->List2.ForeColor(), w->List3.ForeColor());
    EXPECT_EQ(w->LvwFiles.BackColor(), grey);
    EXPECT_EQ(w->Frame1.BackColor(), grey);
    EXPECT_EQ(w->lblAbout.ForeColor(), rgb(238, 238, 238));
    EXPECT_EQ(w->lblStatus.ForeColor(), rgb(255, 255, 255));
    EXPECT_EQ(w->Drive1.BackColor(), grey);
    EXPECT_EQ(w->CmdEnd.BackColor(), grey);
    EXPECT_EQ(w->Picture1.BackColor(), grey);
    EXPECT_EQ(w->Picture5.BackColor(), grey);
    EXPECT_FALSE(w->ListColors.Visible());

    // Drawn: the label's text in yellow, the bar's chunk and groove as given.
    w->ProgressBar1.setValue(50);
    const QImage shot = w->ProgressBar1.widget()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(2, shot.height() / 2), QColor(80, 80, 80));
    EXPECT_EQ(shot.pixelColor(shot.width() - 3, shot.height() / 2), QColor(176, 176, 170));
}

TEST_F(ColourSchemes, LightSetsADarkListBesideLightPanels)
{
    choose(2);
    const quint32 panel = rgb(237, 234, 235);
    EXPECT_EQ(w->BackColor(), panel);
    EXPECT_EQ(w->List3.BackColor(), rgb(112, 112, 112));
    EXPECT_EQ(w->Picture1.BackColor(), rgb(112, 112, 112));   // rule 24 after the list's late colour
    EXPECT_EQ(w->lblSpecs.BackColor(), rgb(228, 228, 223));
    EXPECT_EQ(w->lblSpecs.ForeColor(), rgb(0, 0, 0));
    EXPECT_EQ(w->txtExif.ForeColor(), rgb(0, 0, 0));
    EXPECT_EQ(w->Picture4.BackColor(), panel);
    EXPECT_EQ(bar(), rgb(64, 96, 144));
    EXPECT_EQ(barBack(), panel);   // follows the command panel
    EXPECT_EQ(w->TxtWidth.ForeColor(), rgb(0, 0, 0));
    EXPECT_EQ(w->LvwTypes.BackColor(), rgb(228, 228, 223));
    EXPECT_EQ(w->lblAbout.ForeColor(), rgb(0, 0, 0));
}

TEST_F(ColourSchemes, TheDesktopSchemeTakesSystemColoursThatCarryOver)
{
    choose(3);
    EXPECT_EQ(w->BackColor(), sys(2));
    EXPECT_EQ(w->ListColors.BackColor(), sys(4));
    EXPECT_EQ(w->ListColors.ForeColor(), sys(7));
    EXPECT_EQ(w->ListFilters.BackColor(), sys(4));
    EXPECT_EQ(w->lblSpecs.BackColor(), sys(5));
    EXPECT_EQ(w->lblSpecs.ForeColor(), sys(8));
    EXPECT_EQ(w->txtExif.BackColor(), sys(5));
    EXPECT_EQ(w->Picture4.BackColor(), sys(5));
    EXPECT_EQ(w->LvwTypes.BackColor(), sys(5));   // rule 14 over rule 3
    EXPECT_EQ(w->List3.BackColor(), rgb(112, 112, 112));
    EXPECT_EQ(bar(), rgb(153, 180, 209));
    EXPECT_EQ(plat::colorFromVb(w->BackColor()), QGuiApplication::palette().color(QPalette::Active, QPalette::Highlight));

    // Dark after the desktop scheme leaves the popup lists in the menu colours.
    choose(1);
    EXPECT_EQ(w->ListFilters.BackColor(), sys(4));
    EXPECT_EQ(w->ListFilters.ForeColor(), sys(7));
    EXPECT_EQ(w->BackColor(), rgb(128, 128, 128));
}

TEST_F(ColourSchemes, HideMeOnlyHidesTheList)
{
    choose(1);
    w->ListColors.setVisible(true);
    const quint32 before = w->BackColor();
    choose(0);
    EXPECT_FALSE(w->ListColors.Visible());
    EXPECT_EQ(w->BackColor(), before);
}

TEST_F(ColourSchemes, GermanAndDutchEntriesAreRecognised)
{
    for (int language : {1031, 1043}) {
        SetCurrentLanguageId(language);
        DestroyMainWindow();
        w = &CreateMainWindow();   // the entries in that language
        for (int entry : {1, 2, 3}) {
            choose(entry);
            const quint32 expected = entry == 1 ? rgb(128, 128, 128) : entry == 2 ? rgb(237, 234, 235) : sys(2);
            EXPECT_EQ(w->BackColor(), expected) << language << " " << w->ListColors.List(entry).toStdString();
        }
        w->ListColors.setVisible(true);
        choose(0);
        EXPECT_FALSE(w->ListColors.Visible()) << language;
    }
}
