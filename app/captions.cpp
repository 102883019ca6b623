// The main window's captions, list rows and column headers in the chosen
// language. A text that the language's table lacks falls back to English,
// so that no button is ever left blank.
#include "app/frmrecover.h"

#include "drive/strings.h"
#include "scan/ui/typelist.h"

#include <QStandardItemModel>

namespace {

struct Caption {
    int number;
    const char *english;
};

QString text(const Caption &c) { return GetString(c.number, QString::fromUtf8(c.english)); }

// Sets row i of a list box, adding the missing rows before it.
void setRow(plat::ListBox &list, int index, const QString &row)
{
    if (index < list.ListCount())
        list.setList(index, row);
    else if (index == list.ListCount())
        list.AddItem(row);
}

const Caption kColourRows[] = {
    {1495, "Hide Me"}, {1498, "Layout Dark"}, {1499, "Layout Light"}, {1707, "Windows Theme"}};
const Caption kFilterRows[] = {
    {1495, "Hide Me"},    {1501, "File Info"}, {1502, "Rotate 90  CW"}, {1503, "Rotate 90CCW"},
    {1504, "Rotate 180"}, {1409, "Reset Rotation"}, {1328, "Unsharp"}, {428, "Focus"},
    {1329, "Sharpen"},    {1330, "SharpenMore"}, {1408, "Reset Filter"}};
const Caption kTypeColumns[] = {
    {56, "Type"},     {57, "Description"}, {58, "Origin"}, {59, "Reliable"},  {60, "Header"},
    {61, "Floating"}, {62, "Footer"},      {63, "Fixed"},  {64, "Analized #"}};

} // namespace

void frmRecover::SetLanguageCaptions()
{
    setCaption(text({31, "Quilvane"}));
    ChkDamaged.setCaption(text({50, "Damaged"}));
    ChkDeep.setCaption(text({33, "DeepScan"}));

    // The preset rows by their fixed places; the rows are recognised by the
    // same texts when one is chosen.
    const QStringList presets = TypeSelectEntries(SizeLimitMin, SizeLimitMax);
    for (int row : {1, 2, 3, 4, 5, 6, 7, 22, 23})
        if (row < CmbTypeSelect.ListCount() && row < presets.size())
            CmbTypeSelect.setList(row, presets[row]);

    CmdBackup.setCaption(text({48, "Backup Medium"}));
    CmdBrowse.setCaption(text({1531, "Browse"}));
    CmdEnd.setCaption(text({40, "End"}));
    CmdLearn.setCaption(text({42, "DO Vizorira"}));
    CmdMaxSpeed.setCaption(text({39, "Test Speed"}));
    CmdOpen.setCaption(text({41, "Open With"}));
    CmdQuickUndelete.setCaption(text({45, "Quick Undelete"}));
    CmdRenderWidth.setCaption(text({47, "Render Width"}) + QStringLiteral("     "));
    CmdSaveAll.setCaption(text({44, "Save All"}));
    CmdSaveAs.setCaption(text({43, "Save Selected"}));
    CmdScan.setCaption(text({1652, "Scan"}));
    CmdScanBackup.setCaption(text({49, "Scan Backup"}));
    CmdShowFolder.setCaption(text({36, "Explore Cache"}));
    CmdShowScanTypes.setCaption(text({46, "SearchTypes"}));
    CmdShowThumbs.setCaption(text({37, "Thumbs"}));
    lblAbout.setCaption(text({55, "About"}));
    lblHelp.setCaption(text({53, "Help"}));
    lblStatus.setCaption(text({51, "Status"}));

    for (int i = 0; i < int(std::size(kColourRows)); ++i)
        setRow(ListColors, i, text(kColourRows[i]));
    // A low-colour display has dropped the filter rows from 6 on.
    const int filterRows = ListFilters.ListCount() == 0 ? int(std::size(kFilterRows)) : ListFilters.ListCount();
    for (int i = 0; i < filterRows && i < int(std::size(kFilterRows)); ++i)
        setRow(ListFilters, i, text(kFilterRows[i]));

    if (QStandardItemModel *model = TypeListModel(LvwTypes)) {
        for (int c = 0; c < int(std::size(kTypeColumns)) && c < model->columnCount(); ++c)
            model->setHeaderData(c, Qt::Horizontal, text(kTypeColumns[c]));
    }

    txtExif.setText(text({32, "ExifInfo"}) + QStringLiteral("\r\n"));
    txtSpecs.setText(text({52, "Specifications"}));
}
