#include "recovery/stagedrecovery.h"

#include "drive/strings.h"
#include "platform/ui/msgbox.h"

#include <QLocale>
#include <QStringList>

namespace {

const QString kLastCluster = QStringLiteral("LastCluster");
const QString kLastStage = QStringLiteral("LastStage");
constexpr double kStage1LimitMB = 9000;

const QString crlf = QStringLiteral("\r\n");

bool scanInterrupted(const StagedRecoveryHooks &h)
{
    bool ok = false;
    const double v = h.marker(kLastCluster).trimmed().toDouble(&ok);
    return ok && v > 0;
}

// The interrupted medium must be the source before a stage reads it.
bool mediumConnected(const StagedRecoveryHooks &h, const QString &title)
{
    while (!h.sameMedium()) {
        const QString text = GetString(1613, QStringLiteral("Please connect the same card or disk before proceeding."));
        if (h.ask(text, plat::mb::OKCancel + plat::mb::IconExclamation, title) != plat::id::OK)
            return false;
    }
    return true;
}

bool stageConfirmed(const StagedRecoveryHooks &h, const QString &text, const QString &title)
{
    return h.ask(text, plat::mb::OKCancel + plat::mb::IconInformation, title) == plat::id::OK;
}

} // namespace

QString StagedRecoveryTitle()
{
    return GetString(1603, QStringLiteral("Automated recovering from physically damaged media."));
}

QString StagedRecoveryNote()
{
    return QStringLiteral(" ") + GetString(1604, QStringLiteral("terminated by Windows")) + QStringLiteral("....")
           + crlf + crlf + GetString(1605, QStringLiteral("Termination by Windows cannot be prevented anyhow.")) + crlf
           + GetString(1606, QStringLiteral("Restart Windows and/or Quilvane if terminated.")) + crlf + crlf;
}

const QString Stage2NotReadKey = QStringLiteral("Stage2NotRead");

QString Stage2NotReadText(int64_t fromByte, int64_t toByte, int bytesPerSector)
{
    if (bytesPerSector <= 0 || fromByte < 0 || toByte <= fromByte)
        return {};
    const int64_t first = fromByte / bytesPerSector;
    const int64_t last = (toByte - 1) / bytesPerSector;
    return QString::number(first) + QLatin1Char('-') + QString::number(last);
}

QString Stage2NotReadMessage(const QString &notReadText)
{
    const QStringList parts = notReadText.trimmed().split(QLatin1Char('-'));
    bool okFirst = false, okLast = false;
    const qint64 first = parts.value(0).toLongLong(&okFirst);
    const qint64 last = parts.value(1).toLongLong(&okLast);
    if (parts.size() != 2 || !okFirst || !okLast || first < 0 || last < first)
        return {};
    const QLocale locale;
    return FormatString(GetString(2491, QStringLiteral("Stage 2 did not reach sectors %0 to %1 of the medium: the "
                                                       "final stage could not look at them.")),
                        {locale.toString(first), locale.toString(last)});
}

void RunStagedRecovery(const StagedRecoveryHooks &h)
{
    if (!scanInterrupted(h))
        return;
    bool ok = false;
    int stage = h.marker(kLastStage).trimmed().toInt(&ok);
    if (!ok || stage < 0 || stage > 2)
        stage = 0;
    h.stageChanged(stage);
    const QString title = StagedRecoveryTitle();
    const QString note = StagedRecoveryNote();

    auto end = [&] {
        h.stageChanged(0);
        h.setMarker(kLastCluster, QStringLiteral("0"));
        h.setMarker(kLastStage, QStringLiteral("0"));
    };

    if (stage == 0) {
        if (!h.prepareStage2Folder())
            return end();
        const QString question =
            GetString(1607, QStringLiteral("Quilvane was unexpectedly terminated by Windows, most likely caused")) + crlf
            + GetString(1608, QStringLiteral("by trying to read from a physically damaged sector on the card or disk."))
            + crlf + crlf
            + GetString(1609, QStringLiteral("Quilvane is probably able to recover more, using an automated process."))
            + crlf
            + GetString(1610, QStringLiteral("This process has 3 stages with two possible restarts and can take a while."))
            + crlf + crlf
            + GetString(1611, QStringLiteral("Be sure the same disk or card has not been removed while processing!"))
            + crlf + GetString(1612, QStringLiteral("Please restart Windows first if restarting Quilvane fails.")) + crlf
            + crlf + GetString(1633, QStringLiteral("Do you want to continue with automated recovery?"));
        if (h.ask(question, plat::mb::YesNo + plat::mb::DefButton2 + plat::mb::IconQuestion, title) != plat::id::Yes)
            return end();
        if (!mediumConnected(h, title))
            return end();
        h.setMarker(kLastStage, QStringLiteral("1"));
        stage = 1;
        h.stageChanged(stage);
        if (h.sourceTotalMB() < kStage1LimitMB) {
            if (!stageConfirmed(
                    h, GetString(1614, QStringLiteral("Stage 1:  Recovering files from sectors until probably")) + note,
                    title))
                return end();
            h.runStage1();
        }
    }
    if (scanInterrupted(h) && stage == 1) {
        if (!mediumConnected(h, title))
            return end();
        h.setMarker(kLastStage, QStringLiteral("2"));
        stage = 2;
        h.stageChanged(stage);
        if (!stageConfirmed(
                h, GetString(1615, QStringLiteral("Stage 2:  Saving remaining sectors until probably again")) + note,
                title))
            return end();
        h.runStage2();
    }
    if (scanInterrupted(h) && stage == 2) {
        if (!stageConfirmed(h,
                            GetString(1616, QStringLiteral("Final stage:  Recovering files from additional saved sectors."))
                                + crlf + crlf,
                            title))
            return end();
        h.runFinalStage();
        stage = 0;
        h.stageChanged(stage);
    }
    h.notice(GetString(1617, QStringLiteral("Finished.")), title);
    end();
}
