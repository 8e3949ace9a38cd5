#include "meters/meter_values.h"

namespace qvx {

std::optional<qint64> decodeValue(QByteArrayView bytes, bool sixtyFourBit)
{
    const int width = valueBytes(sixtyFourBit);
    if (bytes.size() < width)
        return std::nullopt;
    uint64_t u = 0;
    for (int i = 0; i < width; ++i)
        u = (u << 8) | static_cast<uint8_t>(bytes[i]);
    if (!sixtyFourBit)
        return static_cast<qint64>(u);
    if (u == UINT64_MAX)
        return std::nullopt;
    return static_cast<qint64>(u);
}

QByteArrayView replyDataBytes(const QByteArray &frame)
{
    constexpr qsizetype Head = 3; // unit, function, byte count
    constexpr qsizetype Crc = 2;
    if (frame.size() <= Head + Crc)
        return {};
    const qsizetype announced = static_cast<uint8_t>(frame.at(2));
    const qsizetype received = frame.size() - Head - Crc;
    return QByteArrayView(frame).sliced(Head, qMin(announced, received));
}

QVector<std::optional<qint64>> decodeValues(QByteArrayView data, bool sixtyFourBit)
{
    const int width = valueBytes(sixtyFourBit);
    QVector<std::optional<qint64>> values;
    values.reserve(data.size() / width);
    for (qsizetype at = 0; at + width <= data.size(); at += width)
        values.push_back(decodeValue(data.sliced(at, width), sixtyFourBit));
    return values;
}

QByteArray valuesLogBlock(const QString &timeStamp, const QStringList &rowNumbers, const QStringList &values)
{
    QByteArray block = "\r\n";
    block += timeStamp.toLatin1();
    block += "\r\n";
    const qsizetype rows = qMax(rowNumbers.size(), values.size());
    for (qsizetype r = 0; r < rows; ++r) {
        block += rowNumbers.value(r).toLatin1();
        block += ';';
        block += values.value(r).toLatin1();
        block += ";\r\n";
    }
    return block;
}

} // namespace qvx
