// The found-file list's selection in its two views (List3 item i is LvwFiles
// item i + 1), the remembered index of the cache root and of a browsed
// folder, and the status line that names a browsed folder.
#include "app/frmrecover.h"

#include "drive/strings.h"

#include <algorithm>

namespace {

// Clears the file list's busy flag when the pass ends, however it ends.
struct FileListBusyPass {
    explicit FileListBusyPass(bool &flag) : flag(flag) {}
    ~FileListBusyPass() { flag = false; }
    bool &flag;
};

constexpr int kStatusCut = 38;   // a browsing caption is cut below this length

} // namespace

void frmRecover::RememberListIndex()
{
    if (ShownFolder == CacheRoot)
        LastListIndex = List3.ListIndex();
    else
        BrowseListIndex = List3.ListIndex();
}

void frmRecover::SelectListItem()
{
    const int count = List3.ListCount();
    if (count == 0)
        return;
    List3.setSelected(0, false);
    int index = 0;
    if (ShownFolder == CacheRoot && count > LastListIndex)
        index = LastListIndex;
    else if (ShownFolder != CacheRoot)
        index = BrowseListIndex;
    // A remembered index of -1 (nothing was selected) or one the list has
    // outgrown selects the first item.
    if (index < 0 || index >= count)
        index = 0;
    List3.setSelected(index, true);
    if (LvwFiles.ItemCount() > 0)
        LvwFiles.setItemSelected(1, false);
    if (LvwFiles.ItemCount() > index) {
        LvwFiles.setItemSelected(index + 1, true);
        LvwFiles.EnsureVisible(index + 1);
    }
}

void frmRecover::SelectNextAfterSave(int index)
{
    const int count = std::min(List3.ListCount(), int(FoundFilePaths.size()));
    if (count <= 0 || FoundFilePaths.at(0).isEmpty())
        return;
    index = std::clamp(index, 0, count - 1);
    {
        FileListBusyPass pass(FileListBusy);
        FileListBusy = true;
        for (int i = 0; i < List3.ListCount(); ++i)
            if (List3.Selected(i))
                List3.setSelected(i, false);
    }
    List3.setSelected(index, true);   // shows the file
    RememberListIndex();
    SyncListSelections(1);
}

void frmRecover::SyncListSelections(int16_t &direction) { SyncListSelections(int(direction)); }

void frmRecover::SyncListSelections(int direction)
{
    FileListBusyPass pass(FileListBusy);
    // The two views may differ in length while one of them is being
    // refilled: only the items both hold are matched.
    const int both = std::min(List3.ListCount(), LvwFiles.ItemCount());
    if (direction == 1) {
        for (int i = 1; i <= both; ++i) {
            if (List3.Selected(i - 1)) {
                LvwFiles.setItemSelected(i, true);
                LvwFiles.EnsureVisible(i);
            } else {
                LvwFiles.setItemSelected(i, false);
            }
        }
    } else {
        for (int i = 1; i <= both; ++i) {
            FileListBusy = true;
            const bool selected = LvwFiles.ItemSelected(i);
            if (List3.Selected(i - 1) != selected)
                List3.setSelected(i - 1, selected);
        }
    }
}

void frmRecover::ShowBrowsingStatus()
{
    if (SavedStatusText.isEmpty())
        SavedStatusText = lblStatus.Caption();
    if (ShownFolder == CacheRoot) {
        if (lblStatus.Caption().contains(QLatin1String("\\*")))
            lblStatus.setCaption(SavedStatusText);
        return;
    }
    Picture3.setVisible(true);
    lblStatus.setVisible(true);
    const QString browsing = GetString(611, QStringLiteral("Browsing"));
    if (!lblStatus.Caption().contains(browsing.left(4)))
        SavedStatusText = lblStatus.Caption();
    QString caption = ShownFolder + QLatin1Char('*');
    while (caption.size() >= kStatusCut && caption.contains(QLatin1Char('\\')))
        caption = caption.mid(caption.indexOf(QLatin1Char('\\')) + 1);
    if (ShownFolder.size() <= kStatusCut - 1)
        caption = browsing + QLatin1Char(' ') + caption;
    lblStatus.setCaption(caption);
}
