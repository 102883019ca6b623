// Helpers of the drive tests: an image attached as E: and the record filled.
#pragma once

#include "drive/driveinfo.h"
#include "platform/drives.h"
#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

namespace drive_tests {

inline void attachAndRead(const QString &image, QChar letter = 'E')
{
    ASSERT_FALSE(image.isEmpty());
    ASSERT_TRUE(testing_support::attachRemovable(letter, image));
    GetDriveInfo(QString(letter) + ":");
}

inline uint32_t le32(const QByteArray &b, int o)
{
    return uint32_t(uint8_t(b[o])) | uint32_t(uint8_t(b[o + 1])) << 8 | uint32_t(uint8_t(b[o + 2])) << 16
        | uint32_t(uint8_t(b[o + 3])) << 24;
}

inline QByteArray le32Bytes(uint32_t v)
{
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char((v >> (8 * i)) & 0xFF);
    return b;
}

inline int firstNumber(const QString &text)
{
    QString digits;
    for (QChar c : text) {
        if (c.isDigit())
            digits += c;
        else if (!digits.isEmpty())
            break;
    }
    return digits.toInt();
}

} // namespace drive_tests
