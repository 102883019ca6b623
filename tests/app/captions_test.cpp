// Captions, rows and headers in the chosen language, still recognised when
// chosen; and the preset combo's text, width and place after the tool tips.
#include "tests/app/startup_fixture.h"

#include "scan/ui/typelist.h"

#include <QStandardItemModel>

using namespace app_tests;

TEST_F(FreshHome, GermanCaptionsRowsAndHeadersAreSetAndRecognised)
{
    w->SetUpTypeList();
    w->FillTypeList();
    SetCurrentLanguageId(1031);
    w->SetLanguageCaptions();
    EXPECT_EQ(w->CmdLearn.Caption(), "Lernmodus");
    EXPECT_EQ(w->CmdEnd.Caption(), "Beenden");
    EXPECT_EQ(w->CmdRenderWidth.Caption(), GetString(47, "Render Width") + "     ");
    EXPECT_EQ(w->txtExif.Text(), GetString(32, "ExifInfo") + "\r\n");
    EXPECT_EQ(w->ListColors.ListCount(), 4);
    EXPECT_EQ(w->ListColors.List(3), "Windows-Design");
    EXPECT_EQ(w->ListFilters.ListCount(), 11);
    EXPECT_EQ(w->ListFilters.List(2), GetString(1502, "Rotate 90  CW"));
    EXPECT_EQ(TypeListModel(w->LvwTypes)->headerData(0, Qt::Horizontal).toString(), "Typ");
    ASSERT_EQ(w->CmbTypeSelect.ListCount(), 24);
    EXPECT_EQ(w->CmbTypeSelect.List(1), "Alle Kameras");
    EXPECT_EQ(w->CmbTypeSelect.List(8), "Canon") << "makes are not translated";

    // Choosing the translated group row still ticks its types.
    for (int i = 1; i <= w->LvwTypes.ItemCount(); ++i)
        w->LvwTypes.setItemChecked(i, false);
    w->CmbTypeSelect.setListIndex(1);
    int ticked = 0;
    for (int i = 1; i <= w->LvwTypes.ItemCount(); ++i)
        ticked += w->LvwTypes.ItemChecked(i);
    EXPECT_GT(ticked, 10);
    EXPECT_TRUE(w->TypeSelectionChanged);

    // A low-colour display's shorter filter list keeps its length.
    while (w->ListFilters.ListCount() > 6)
        w->ListFilters.RemoveItem(w->ListFilters.ListCount() - 1);
    w->SetLanguageCaptions();
    EXPECT_EQ(w->ListFilters.ListCount(), 6);
}

TEST_F(FreshHome, PresetComboIsWidenedForALongTextAtThePictureCorner)
{
    w->SetUpTypeList();
    w->Picture1.Move(8, 8, 6000, 4000);
    const auto widthAfter = [&](const QString &text) {
        w->CmbTypeSelect.Move(100, 100, 2000, 315);
        w->CmbTypeSelect.setText(text);
        w->SetToolTips();
        return w->CmbTypeSelect.Width();
    };
    EXPECT_EQ(widthAfter(QString(24, 'x')), 2000) << "a 24-character text keeps the design width";
    EXPECT_EQ(widthAfter("Pre Select Types for Scan"), 2700);
    EXPECT_EQ(w->CmbTypeSelect.Left(), 6000 - 2700 - 30);
    EXPECT_EQ(w->CmbTypeSelect.Top(), 4000 - 350);
    EXPECT_EQ(widthAfter(QString(30, 'x')), 3240);

    // The size-limit row reads the limits; an empty text gets its prompt.
    w->SizeLimitMin = 1.5;
    w->SizeLimitMax = 25;
    widthAfter(QString());
    EXPECT_EQ(w->CmbTypeSelect.List(0), "Limited file size: " + SizeLimitNumberText(1.5) + "-25 MB");
    EXPECT_EQ(w->CmbTypeSelect.Text(), "Select File Types");
    w->SizeLimitMin = w->SizeLimitMax = 0;
    w->SetToolTips();
    EXPECT_TRUE(w->CmbTypeSelect.List(0).endsWith("0-0 MB"));
}
