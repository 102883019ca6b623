// The scan-type list LvwTypes: its columns, filling it from the built-in
// table and the learned-type files, showing and switching it, and its rows
// as the scan reads them.
#include "app/frmrecover.h"

#include "drive/strings.h"
#include "platform/paths.h"
#include "scan/learnedtypes.h"
#include "scan/signatures.h"
#include "scan/ui/typelist.h"

#include <QBrush>
#include <QFile>
#include <QSet>
#include <QStandardItem>
#include <QStandardItemModel>
#include <QTreeView>
#include <algorithm>

namespace {

// Column captions (texts 56-64) and widths in twips before the factor.
struct Column {
    int text;
    const char *english;
    double width;
};
const Column kColumns[] = {
    {56, "Type", 1300},     {57, "Description", 1200}, {58, "Origin", 1100},
    {59, "Reliable", 1100}, {60, "Header", 970},       {61, "Floating", 970},
    {62, "Footer", 970},    {63, "Fixed", 970},        {64, "Analized #", 1200},
};
constexpr int kVariantSubItem = 9;   // hidden: no column shows it
constexpr quint32 kLearnedColour = 0xFF0000;   // blue, as 0x00BBGGRR

// A row as it will be added.
struct PendingRow {
    QString text;
    QString key;
    QString cells[8];    // sub-items 1 to 8
    int variant = -1;    // learned rows: 0 to 5
    int icon = 0;
};

class FillingGuard {
public:
    explicit FillingGuard(bool &flag) : flag_(flag), old_(flag) { flag_ = true; }
    ~FillingGuard() { flag_ = old_; }
    FillingGuard(const FillingGuard &) = delete;
    FillingGuard &operator=(const FillingGuard &) = delete;

private:
    bool &flag_;
    bool old_;
};

} // namespace

QStandardItemModel *TypeListModel(plat::ListView &list)
{
    QWidget *w = list.widget();
    QTreeView *tree = w ? w->findChild<QTreeView *>() : nullptr;
    return tree ? qobject_cast<QStandardItemModel *>(tree->model()) : nullptr;
}

void frmRecover::SetUpTypeList()
{
    if (TypeListReady)
        return;
    TypeListReady = true;

    if (LvwTypes.ColumnCount() == 0) {
        for (const Column &c : kColumns)
            LvwTypes.AddColumn(GetString(c.text, QString::fromLatin1(c.english)), c.width);
        // The learned variant number: a column that is never shown.
        LvwTypes.AddColumn(QString(), 0);
        if (QWidget *w = LvwTypes.widget())
            if (auto *tree = w->findChild<QTreeView *>())
                tree->setColumnHidden(kVariantSubItem, true);
    }
    LvwTypes.setCheckboxes(true);
    LvwTypes.setMultiSelect(true);

    if (CmbTypeSelect.ListCount() == 0) {
        for (const QString &row : TypeSelectEntries(SizeLimitMin, SizeLimitMax))
            CmbTypeSelect.AddItem(row);
        CmbTypeSelect.setListIndex(-1);
        CmbTypeSelect.setText(TypeSelectPrompt());
    }

    LvwTypes.ItemCheck = [this](int index) { LvwTypes_ItemCheck(index); };
    LvwTypes.KeyUp = [this](int &keyCode, int shift) { LvwTypes_KeyUp(keyCode, shift); };
    LvwTypes.MouseDown = [this](int button, int shift, double x, double y) {
        LvwTypes_MouseDown(button, shift, x, y);
    };
    LvwTypes.LostFocus = [this] { LvwTypes_FocusChanged(); };
    CmdShowScanTypes.GotFocus = [this] { CmdShowScanTypes_GotFocus(); };
    lblStatus.Click = [this] { lblStatus_Click(); };
}

void frmRecover::ShowTypeSelectInForce(int storedIndex)
{
    if (storedIndex >= 1 && storedIndex < CmbTypeSelect.ListCount() && LvwTypes.ItemCount() > 0) {
        QStringList names;
        for (int i = 1; i <= LvwTypes.ItemCount(); ++i)
            names << LvwTypes.ItemText(i);
        const QString list = TypePresetList(CmbTypeSelect.List(storedIndex), names);
        bool same = true;
        for (int i = 1; i <= LvwTypes.ItemCount() && same; ++i) {
            const QString &name = names[i - 1];
            same = LvwTypes.ItemChecked(i) == (!name.isEmpty() && list.contains(name, Qt::CaseInsensitive));
        }
        if (same) {
            // Selecting it ticks the same rows again; it is no change of the
            // user's.
            const bool changed = TypeSelectionChanged;
            CmbTypeSelect.setListIndex(storedIndex);
            TypeSelectionChanged = changed;
            return;
        }
    }
    CmbTypeSelect.setListIndex(-1);
    CmbTypeSelect.setText(TypeSelectPrompt());
}

void frmRecover::FillTypeList()
{
    QString selection;
    FillTypeList(selection);
}

void frmRecover::FillTypeList(QString &selection)
{
    SetUpTypeList();
    if (selection.size() == 1)
        selection.clear();
    selection = selection.toUpper();
    for (int i = 1; i <= LvwTypes.ItemCount(); ++i)
        if (LvwTypes.ItemChecked(i))
            selection += LvwTypes.ItemText(i) + QLatin1Char('|');

    FillingGuard filling(TypeListFilling);
    LvwTypes.setVisible(false);
    CmbTypeSelect.setVisible(false);
    LvwTypes.Clear();
    LvwTypes.setSmallIcons(nullptr);
    LvwTypes.setIcons(nullptr);
    ImageList2.Clear();
    TypeIconKeys.clear();

    // The icon of a type ("jpg"), added to ImageList2 on first use; 0 when
    // there is none.
    auto iconOf = [this](const QString &type) {
        const QString key = QStringLiteral("ZT") + type;
        const qsizetype known = TypeIconKeys.indexOf(key);
        if (known >= 0)
            return int(known) + 1;
        const QImage icon = GetFileTypeIcon(type, 1, 256);
        if (icon.isNull())
            return 0;
        const int index = ImageList2.Add(icon);
        TypeIconKeys.append(key);
        if (ImageList2.Count() == 1) {
            LvwTypes.setSmallIcons(&ImageList2);
            LvwTypes.setIcons(&ImageList2);
        }
        return index;
    };

    BuildSignatureTable("all");
    std::vector<PendingRow> rows;

    // Learned types: every usable variant of every file.
    for (const QString &name : ListLearnedTypeFiles()) {
        const QByteArray typeBytes = LearnedTypeFromFileName(name);
        const QString type = QString::fromLatin1(typeBytes);
        const int icon = iconOf(type);
        LearnedTypeRecord record;
        const LearnedTypeStatus status = ConvertLearnedTypeRecord(name, true, record);
        bool anySignature = false;
        if (status == LearnedTypeStatus::Ok) {
            for (int k = 0; k < LearnedVariants; ++k) {
                const auto v = size_t(k);
                if (record.Sig1[v].isEmpty())
                    continue;
                anySignature = true;
                if (record.Matches[v] < 5 || !IsUsableFirstSignature(record.Sig1[v]))
                    continue;
                PendingRow row;
                row.text = type.toUpper();
                row.key = type + QLatin1Char(' ') + QString::number(k);
                row.icon = icon;
                row.variant = k;
                row.cells[0] = QString::fromLatin1(FixedDescription(record.Desc));
                row.cells[1] = AdaptiveOrigin();
                row.cells[2] = TypeReliabilityText(record.Matches[v], record.Analysed[v]);
                row.cells[3] = QString::number(record.Sig1[v].size());
                row.cells[4] = QString::number(record.Sig2[v].size());
                row.cells[5] = QString::number(record.TailPrefix[v].size());
                row.cells[6] = QString::number(record.TailRun[v].size());
                row.cells[7] = QString::number(record.Analysed[v]);
                rows.push_back(row);
            }
        }
        // Only a file that holds no signature at all goes: one that could not
        // be read, or whose variants have too few matches yet, stays (hidden).
        if ((status == LearnedTypeStatus::Ok && !anySignature) || status == LearnedTypeStatus::Empty)
            QFile::remove(plat::toNative(LearnedTypesFolder() + name));
    }

    // Built-in types: one row for each Ext + Desc.
    QSet<QByteArray> listed;
    for (size_t i = 0; i < SignatureTable.size(); ++i) {
        const SignatureRecord &sig = SignatureTable[i];
        if (sig.Ext.size() < 2)
            continue;
        const QByteArray id = sig.Ext + sig.Desc;
        if (listed.contains(id))
            continue;
        listed.insert(id);
        const QString ext = QString::fromLatin1(sig.Ext.mid(1));
        PendingRow row;
        row.text = ext.toUpper();
        row.key = QString::fromLatin1(sig.Ext) + QLatin1Char(' ') + QString::number(i);
        row.icon = iconOf(ext.toLower());
        row.cells[0] = QString::fromLatin1(sig.Desc);
        row.cells[1] = ProgramOrigin();
        rows.push_back(row);
    }

    // Sorted once by name; rows added later are appended.
    std::stable_sort(rows.begin(), rows.end(), [](const PendingRow &a, const PendingRow &b) {
        return QString::compare(a.text, b.text, Qt::CaseInsensitive) < 0;
    });

    QStandardItemModel *model = TypeListModel(LvwTypes);
    const QBrush blue(plat::colorFromVb(kLearnedColour));
    for (const PendingRow &row : rows) {
        const int index = LvwTypes.AddItem(row.text, row.icon);
        LvwTypes.setItemTag(index, row.key);
        for (int s = 0; s < 8; ++s)
            LvwTypes.setSubItem(index, s + 1, row.cells[s]);
        if (row.variant >= 0) {
            LvwTypes.setSubItem(index, kVariantSubItem, QString::number(row.variant));
            if (model) {
                for (int column : {0, 2})
                    if (QStandardItem *it = model->item(index - 1, column))
                        it->setForeground(blue);
            }
        }
        if (!row.text.isEmpty() && selection.contains(row.text))
            LvwTypes.setItemChecked(index, true);
    }
}

void frmRecover::CmdShowScanTypes_Click()
{
    if (RefuseWhileBusy())
        return;
    SetUpTypeList();
    if (LvwTypes.ItemCount() == 0) {
        FillTypeList();
        LvwTypes.setView(plat::ListView::lvwReport);
    } else {
        LvwTypes.setView(LvwTypes.View() == plat::ListView::lvwSmallIcon ? plat::ListView::lvwReport
                                                                          : plat::ListView::lvwSmallIcon);
    }
    SetTypesColumnWidth();
    if (Picture7.Visible() && LvwTypes.Visible() && LvwTypes.View() == plat::ListView::lvwReport) {
        LvwTypes.setVisible(false);
        CmbTypeSelect.setVisible(false);
        LvwTypes.setView(plat::ListView::lvwSmallIcon);
        return;
    }
    ShowPictureView();
    LvwTypes.setVisible(true);
    LvwTypes.ZOrder(0);
    CmbTypeSelect.setVisible(true);
    CmbTypeSelect.ZOrder(0);
    LvwTypes.SetFocus();
}

void frmRecover::CmdShowScanTypes_GotFocus()
{
    if (!OperationRunning && !OperationBusy)
        LvwTypes.setVisible(true);
}

void frmRecover::SetTypesColumnWidth()
{
    SetUpTypeList();
    const double f = TypesColumnFactor(LvwTypes.Width());
    if (QStandardItemModel *model = TypeListModel(LvwTypes))
        if (QStandardItem *header = model->horizontalHeaderItem(0))
            header->setText(GetString(365, QStringLiteral("Scan for type:")));
    int column = 1;
    for (const Column &c : kColumns)
        LvwTypes.setColumnWidth(column++, c.width * f);
}

TypeListRows frmRecover::TypeRows() const
{
    TypeListRows rows;
    const plat::ListView &list = LvwTypes;
    for (int i = 1; i <= list.ItemCount(); ++i) {
        TypeListRow row;
        row.Text = list.ItemText(i).toLatin1();
        row.Desc = list.SubItem(i, 1).toLatin1();
        row.Origin = list.SubItem(i, 2);
        row.Variant = list.SubItem(i, kVariantSubItem).toInt();
        row.Checked = list.ItemChecked(i);
        rows.push_back(row);
    }
    return rows;
}

void frmRecover::ShowPictureView()
{
    List1.setVisible(false);
    List2.setVisible(false);
    List3.setVisible(true);
    Picture1.setVisible(true);
    Picture1.ZOrder(0);
}
