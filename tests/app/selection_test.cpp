// The found-file list's selection followed between its two views, the
// remembered index of the cache root and of a browsed folder, and the
// status line of a browsed folder.
#include "tests/app/window_test_util.h"

#include <gtest/gtest.h>

using namespace window_test;

namespace {

class ListSelection : public ::testing::Test {
protected:
    void SetUp() override
    {
        w = &CreateMainWindow();
        makeCache(*w, {"a.jpg", "b.jpg", "c.jpg", "d.jpg"});
        for (int i = 1; i <= 4; ++i)
            w->LvwFiles.AddItem(QStringLiteral("item %1").arg(i));
    }
    void TearDown() override
    {
        DestroyMainWindow();
        ChooserStartPath.clear();
    }
    QList<int> selected3() const
    {
        QList<int> s;
        for (int i = 0; i < w->List3.ListCount(); ++i)
            if (w->List3.Selected(i))
                s << i;
        return s;
    }
    QList<int> selectedThumbs() const
    {
        QList<int> s;
        for (int i = 1; i <= w->LvwFiles.ItemCount(); ++i)
            if (w->LvwFiles.ItemSelected(i))
                s << i;
        return s;
    }
    frmRecover *w = nullptr;
};

} // namespace

TEST_F(ListSelection, TheRememberedItemIsSelectedInBothViews)
{
    w->LastListIndex = 2;
    w->SelectListItem();
    EXPECT_EQ(selected3(), QList<int>{2});
    EXPECT_EQ(selectedThumbs(), QList<int>{3});
    EXPECT_EQ(w->List3.ListIndex(), 2);

    // An index the list has outgrown, or none remembered: the first item.
    for (int remembered : {4, -1}) {
        for (int i = 0; i < 4; ++i)
            w->List3.setSelected(i, false);
        w->LvwFiles.setItemSelected(3, false);
        w->LastListIndex = remembered;
        w->SelectListItem();
        EXPECT_EQ(selected3(), QList<int>{0}) << remembered;
        EXPECT_EQ(selectedThumbs(), QList<int>{1}) << remembered;
    }

    // A browsed folder has its own index; RememberListIndex keeps each apart.
    w->ShownFolder = "E:\\Pics\\";
    w->BrowseListIndex = 3;
    w->SelectListItem();
    EXPECT_TRUE(w->List3.Selected(3));
    w->List3.setListIndex(1);
    w->RememberListIndex();
    EXPECT_EQ(w->BrowseListIndex, 1);
    EXPECT_EQ(w->LastListIndex, -1);
    w->ShownFolder = w->CacheRoot;
    w->List3.setListIndex(2);
    w->RememberListIndex();
    EXPECT_EQ(w->LastListIndex, 2);
    EXPECT_EQ(w->BrowseListIndex, 1);

    // An empty list changes nothing.
    w->List3.Clear();
    w->SelectListItem();
    EXPECT_EQ(w->List3.ListCount(), 0);
}

TEST_F(ListSelection, SelectionsFollowBetweenViewsOfDifferentLengths)
{
    w->LvwFiles.RemoveItem(4);   // the thumbnails one short
    w->List3.setSelected(1, true);
    w->List3.setSelected(3, true);
    w->SyncListSelections(1);
    EXPECT_EQ(selectedThumbs(), (QList<int>{2}));
    EXPECT_FALSE(w->FileListBusy);

    for (int i = 0; i < 4; ++i)
        w->List3.setSelected(i, false);
    w->LvwFiles.setItemSelected(2, false);
    w->LvwFiles.setItemSelected(1, true);
    w->LvwFiles.setItemSelected(3, true);
    bool busyDuringClicks = true;
    w->List3.Click = [&] { busyDuringClicks = busyDuringClicks && w->FileListBusy; };
    w->SyncListSelections(0);
    EXPECT_EQ(selected3(), (QList<int>{0, 2}));
    EXPECT_TRUE(busyDuringClicks);   // the preview holds off while code selects
    EXPECT_FALSE(w->FileListBusy);
}

TEST_F(ListSelection, TheStatusLineNamesTheBrowsedFolder)
{
    w->lblStatus.setCaption("12 files found");
    w->ShownFolder = "D:\\Pics\\";
    w->ShowBrowsingStatus();
    EXPECT_EQ(w->lblStatus.Caption(), "Browsing D:\\Pics\\*");
    EXPECT_TRUE(w->lblStatus.Visible());

    // A long folder is cut at its separators, without the word.
    w->ShownFolder = "D:\\Photos\\Holidays 2024\\Portugal\\Lisbon\\Day3\\";
    ASSERT_GE(w->ShownFolder.size(), 38);
    w->ShowBrowsingStatus();
    EXPECT_EQ(w->lblStatus.Caption(), "Holidays 2024\\Portugal\\Lisbon\\Day3\\*");
    EXPECT_LT(w->lblStatus.Caption().size(), 38);

    // Back in the cache, the text from before browsing returns.
    w->ShownFolder = w->CacheRoot;
    w->ShowBrowsingStatus();
    EXPECT_EQ(w->lblStatus.Caption(), "12 files found");
}
