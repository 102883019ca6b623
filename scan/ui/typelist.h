// The scan-type list's texts and rules that need no window: the reliability
// text of a learned variant, the column factor, the presets of the type
// combo box and the file-size answer.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

class QStandardItemModel;
namespace plat {
class ListView;
}

// 100 x matches / analysed as "#00.0" followed by "%", halves rounded away
// from zero (1 of 16 gives "06.3%"); empty when nothing was analysed.
QString TypeReliabilityText(int32_t matches, int32_t analysed);

// The factor of the list's column widths: 1 up to 10,300 twips, else the
// width / 10,300, at most 1.365.
double TypesColumnFactor(double listWidthTwips);

// The rows of CmbTypeSelect, in order (24): the size entry, the groups,
// the camera makes, "Unlisted camera" and "Deselect".
QStringList TypeSelectEntries(double sizeMin, double sizeMax);
// The prompt of the combo box while no entry is chosen.
QString TypeSelectPrompt();

// The list of type names that a preset entry ticks (names separated by
// commas; a row is ticked when its name occurs in it, without regard to
// case). "All types possible" lists every row name given; an entry that is
// no preset ("Deselect") gives an empty list.
QString TypePresetList(const QString &entryText, const QStringList &rowNames);

// A size limit as the user's locale writes it, without blanks or group
// separators ("1.5", in German "1,5").
QString SizeLimitNumberText(double value);
// "Limited: file size <min>-<max> MB", or "File sizes: unlimited" when
// both are 0.
QString SizeStateText(double sizeMin, double sizeMax);
// The default answer of the size entry: "<min>-<max>", or "0" for no limit.
QString SizeDefaultAnswer(double sizeMin, double sizeMax);

enum class SizeAnswer {
    Cancelled,   // empty answer: nothing changes
    AskAgain,    // no "-", a negative limit, or min above a max that is not 0
    Accepted,
};
// Reads "min-max" in MB with "." or "," as the decimal mark ("1,5-25");
// a single character worth 0 means "0-0".
SizeAnswer ParseSizeLimitAnswer(const QString &answer, double &sizeMin, double &sizeMax);

// The item model behind a list view's rows (the item colours, the header
// captions); nullptr when the list has no widget.
QStandardItemModel *TypeListModel(plat::ListView &list);
