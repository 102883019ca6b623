// The tool tips of the main window's commands, in the chosen language.
#include "app/frmrecover.h"
#include "drive/strings.h"
#include "scan/ui/typelist.h"

void frmRecover::SetToolTips()
{
    const struct {
        plat::Control *control;
        int number;
        const char *text;
    } tips[] = {
        {&CmdSaveAll, 853, "Save all files to a folder of choice."},
        {&CmdSaveAs, 854, "Save selected files with a Save As dialog."},
        {&CmdOpen, 855, "Open the file with the associated program."},
        {&CmdEnd, 856, "End Quilvane."},
        {&CmdMaxSpeed, 857, "Measure the read speed of the medium given the system."},
        {&CmdQuickUndelete, 858, "Search for deleted files only."},
        {&CmdScan, 859, "Scan the whole medium for files using the scan types list."},
        {&CmdShowFolder, 860, "Show the saved files or the temporary cache."},
        {&CmdShowThumbs, 861, "Toggle showing thumbs or list."},
        {&CmdLearn, 862, "Learn, adapt and add new file types."},
        {&TxtWidth, 863, "Thumbnail rendering width."},
        {&CmdRenderWidth, 864, "Render thumbs at width."},
        {&CmdShowScanTypes, 865, "Toggle viewing the scan types list."},
        {&ChkDeep, 866, "Check & right click for 'Damaged Scan'. Use DeepScan if partial results after reformatting."},
        {&CmdBackup, 867, "Make an image of the medium contents."},
        {&CmdScanBackup, 868, "Scan a backup file."},
        {&CmdBrowse, 869, "Browse directories for pictures."},
        {&Drive1, 870, "Select the drive to be recovered from."},
        {&lblAbout, 871, "About Quilvane: version, system information and support."},
        {&lblHelp, 411, "Manual"},
    };
    for (const auto &t : tips) {
        QString text = GetString(t.number, QString::fromUtf8(t.text));
        if (t.control == &Drive1)
            text += QStringLiteral("\r\n")
                  + GetString(2259, QStringLiteral("Use a card reader to read data directly if the desired drive is not listed here."));
        t.control->setToolTipText(text);
    }

    // The size-limit row of the presets, the combo's default text, and a
    // wider combo at the picture view's lower right for a long text.
    if (CmbTypeSelect.ListCount() > 0)
        CmbTypeSelect.setList(0, TypeSelectEntries(SizeLimitMin, SizeLimitMax).value(0));
    if (CmbTypeSelect.Text().isEmpty())
        CmbTypeSelect.setText(GetString(434, QStringLiteral("Select File Types")));
    const int chars = int(CmbTypeSelect.Text().size());
    if (double(chars) * 108 > 2640) {
        const double width = double(chars) * 108;
        CmbTypeSelect.Move(Picture1.Width() - width - 30, Picture1.Height() - 350, width, CmbTypeSelect.Height());
    }
}
