// Browse: any folder's files in the found-file list and the thumbnail grid
// (their thumbnails kept apart in the cache's Thumbs\Browse\), or, for a
// folder inside another cache tree, that cache. The button toggles between
// the cache and the folder browsed last.
#include "app/frmrecover.h"

#include "drive/files.h"
#include "drive/strings.h"
#include "drive/ui/dialogs.h"
#include "drive/ui/msgbox.h"
#include "recovery/cacheguard.h"
#include "viewer/thumbgrid.h"

void frmRecover::CmdBrowse_Click()
{
    // 1.
    if (OperationRunning || OperationBusy) {
        CheckBusy();
        return;
    }
    // 2.
    RememberListIndex();
    ListFilters.setVisible(false);
    ListColors.setVisible(false);

    // 3. The ways in without the dialog.
    bool ask = false;
    if (LvwTypes.Visible()) {
        LvwTypes.setVisible(false);
        CmbTypeSelect.setVisible(false);
        ShownFolder = BrowseStartFolder;
    } else if (List2.Visible()) {
        LvwFiles.setVisible(true);
        ShowPictureView();
        ShownFolder = BrowseStartFolder;
    } else if (ShownFolder == CacheRoot && ShownFolder != BrowseStartFolder) {
        SaveScanList();
        ShownFolder = BrowseStartFolder;
        LvwFiles.Clear();
    } else {
        ask = true;
    }

    QString keptFile;
    for (;;) {
        if (ask) {
            // 4. A folder, or a file, anywhere.
            int mode = 2;
            const QString chosen = BrowseForFolder(mode, BrowseStartFolder, hWnd(), GetString(277, QStringLiteral("Browse")));
            if (chosen.isEmpty())
                break;
            const QString path = NormalizeFolderPath(chosen);
            Picture7.setVisible(false);

            // 5. Inside a cache tree: that tree's root stands for it.
            const QString root = CacheTreeRootOf(path);
            if (!root.isEmpty()) {
                const bool rootHolds = CountFolderFiles(root) > 0;
                const bool cacheHolds = CountFolderFiles(CacheRoot) > 0;
                if (root != CacheRoot && rootHolds && !cacheHolds) {
                    CacheRoot = root;
                    ShownFolder = root;
                    MakeDirNames();
                    CreateCacheFolders();
                    FoundFilePaths = QStringList{QString()};
                    ItemOrientations.assign(1, 0.0f);
                    ClearFileView();
                    RenderThumbnails(0);
                    return;
                }
                if (root != CacheRoot && rootHolds && cacheHolds) {
                    // Kept among the earlier roots for the next start's choice.
                    if (root != PrevCacheRoot && root != OlderCacheRoot) {
                        OlderCacheRoot = PrevCacheRoot;
                        PrevCacheRoot = root;
                    }
                    CmdShowThumbs_Click();
                }
                break;
            }

            // 6. Any other folder; a file shows its folder with the file chosen.
            ShownFolder = path;
            keptFile.clear();
            if (!FolderExists(path)) {
                const QString file = path.left(path.size() - 1);
                const qsizetype cut = file.lastIndexOf('\\');
                ShownFolder = file.left(cut + 1);
                keptFile = file.mid(cut + 1);
            }
            BrowseListIndex = 0;
            ActiveThumbsFolder = BrowseThumbsFolder;
            if (CacheDeleteAllowed(BrowseThumbsFolder, CacheRoot) && FolderExists(BrowseThumbsFolder))
                DeleteCacheTree(BrowseThumbsFolder + QStringLiteral("*.*"));
        }

        // 7. The folder's files as the list and the grid.
        ShownFolder = NormalizeFolderPath(ShownFolder);
        ActiveThumbsFolder = BrowseThumbsFolder;
        if (!FolderExists(BrowseThumbsFolder))
            createCacheFoldersKeepingView();
        FoundFilePaths = QStringList{QString()};
        ItemOrientations.assign(1, 0.0f);
        Picture7.setVisible(false);
        RenderThumbnails(0);
        BrowseStartFolder = ShownFolder;
        if (List3.ListCount() == 0) {
            MsgBoxTimed(QString::number(hWnd()),
                        FormatString(GetString(1396, QStringLiteral("Folder %0 is empty.")), {ShownFolder}), 0,
                        GetString(34, QStringLiteral("Browse")));
            ClearFileView();
            ask = true;
            continue;
        }
        // 8.
        if (!keptFile.isEmpty()) {
            for (int i = 0; i < List3.ListCount() && i < FoundFilePaths.size(); ++i) {
                if (FoundFilePaths[i] == keptFile) {
                    BrowseListIndex = i;
                    List3.setListIndex(i);
                    List3.setSelected(i, true);
                    break;
                }
            }
        }
        return;
    }

    // 9. Nothing shown: back to the cache.
    if (List3.ListCount() == 0) {
        ShownFolder = CacheRoot;
        const bool twice = ResultViewState != 0;
        CmdShowThumbs_Click();
        if (twice)
            CmdShowThumbs_Click();
        CmdShowThumbs.setCaption(GetString(371, QStringLiteral("FileList Scan")));
        ResultViewState = 0;
    }
}
