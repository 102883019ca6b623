// Sample files for the learning tests, made by real tools: Sun/NeXT audio
// (.au, a type the built-in signature table does not know) from sox, and
// pictures from ImageMagick.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace learn_samples {

// The real ImageMagick converter (not a stand-in earlier on the PATH).
QString imageMagick();

// An .au file from sox (8000 Hz, mono, 16-bit) of exactly `bytes` bytes, a
// sine of the frequency; written to dir/name. Empty when sox fails or its
// header is not the 44 bytes these tests count on.
QByteArray makeAu(const QString &dir, const QString &name, int bytes, int frequency);

// `count` .au samples "s01.au" ... in the folder, lengths cycling through
// `lengths` (each a multiple of 4096), frequencies all different. Empty on
// failure.
QList<QPair<QString, QByteArray>> makeAuSamples(const QString &folder, int count, const QList<int> &lengths,
                                                int firstFrequency = 300);

} // namespace learn_samples
