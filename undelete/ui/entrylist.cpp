// The main window's deleted-entry list: its bounds, sort and reset, and the
// forms the scan and the disk image index take of it.
#include "app/frmrecover.h"

#include "drive/driveinfo.h"

int frmRecover::DeletedEntriesUpperBound() const
{
    return int(DeletedEntries.size()) - 1;
}

void frmRecover::ResetDeletedEntries()
{
    DeletedEntries.assign(1, DeletedEntryRecord{});
}

void frmRecover::SortDeletedEntries()
{
    SortEntryList(DeletedEntries, DriveInfo().FileSystem == QLatin1String("NTFS"));
}

std::vector<ScanDeletedEntry> frmRecover::DeletedEntriesForScan() const
{
    std::vector<ScanDeletedEntry> out;
    out.reserve(DeletedEntries.size());
    for (const DeletedEntryRecord &r : DeletedEntries) {
        if (r.IsEmpty())
            continue;
        ScanDeletedEntry e;
        e.Name = r.Name;
        e.LongName = r.LongName;
        e.Created = OleDateToDateTime(r.Created);
        e.FirstCluster = r.FirstCluster;
        e.Size = uint64_t(std::max<int64_t>(r.Size, 0));
        e.Recoverable = uint64_t(std::max<int64_t>(r.Recoverable, 0));
        e.Attributes = r.AttributeByte();
        out.push_back(std::move(e));
    }
    return out;
}

void frmRecover::LoadDeletedEntriesFromIndex(const QByteArray &records, int upperBound)
{
    std::vector<DeletedEntryRecord> read;
    if (ReadEntryRecords(records, upperBound, read) && !read.empty())
        DeletedEntries = std::move(read);
    else
        ResetDeletedEntries();
}

QByteArray frmRecover::DeletedEntriesFileForm() const
{
    return EntryRecordsBytes(DeletedEntries, DeletedEntriesUpperBound());
}
