#include "sim/device.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace qvxsim {

namespace {
constexpr int BaudTable[] = {300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr int ValuesEnd = Device::ObisBase + Device::SlotStride * Device::Slots; // 5096

uint16_t get16(const QByteArray &a, qsizetype at)
{
    return static_cast<uint16_t>((static_cast<uint8_t>(a[at]) << 8) | static_cast<uint8_t>(a[at + 1]));
}

void put16(QByteArray &a, int value)
{
    a.append(static_cast<char>((value >> 8) & 0xFF));
    a.append(static_cast<char>(value & 0xFF));
}

QByteArray exceptionPdu(uint8_t function, uint8_t code)
{
    QByteArray r;
    r.append(static_cast<char>(function | 0x80));
    r.append(static_cast<char>(code));
    return r;
}

bool inRange(int a, int first, int last)
{
    return a >= first && a <= last;
}

// A meter ID as packed decimal: one digit per nibble, 15 for "F" and for
// anything that is not a digit, padded with 15 to the given length.
QByteArray packId(const QString &id, int digits)
{
    QByteArray out;
    for (int k = 0; k < digits; k += 2) {
        auto nib = [&](int i) {
            if (i >= id.size())
                return 15;
            const QChar ch = id[i];
            return ch.isDigit() ? ch.digitValue() : 15;
        };
        out.append(static_cast<char>(nib(k) * 16 + nib(k + 1)));
    }
    return out;
}
} // namespace

int baudForCode(int code)
{
    return code >= 0 && code <= 8 ? BaudTable[code] : -1;
}

int codeForBaud(int baud)
{
    for (int i = 0; i < 9; ++i)
        if (BaudTable[i] == baud)
            return i;
    return -1;
}

char parityForCode(int code)
{
    return code == 0 ? 'E' : code == 1 ? 'O' : code == 2 ? 'N' : '?';
}
int codeForParity(char parity)
{
    return parity == 'E' ? 0 : parity == 'O' ? 1 : parity == 'N' ? 2 : -1;
}

QList<QByteArray> deviceIdentificationObjects()
{
    return {"QVX Gateways",
            "QVX-24S",
            "2.14",
            "http://localhost/qvx-24s",
            "QVX-24S IEC 62056-21 to Modbus gateway",
            "QVX-24S (simulated)",
            "qvxsim"};
}

Device::Device(const QString &demoMeterId) : holding_(65536, 0), input_(65536, 0xFFFF)
{
    holding_[RegFlags] = 1u << (FlagContinuousRead - 1);
    holding_[RegReadoutMinutes] = 15;
    holding_[RegUnit] = 1;
    holding_[RegRtuLine] = 0x40;
    holding_[RegIecLine] = 0x40;
    const uint16_t net[] = {0xC0A8, 0x0164, 0xC0A8, 0x0101, 0xFFFF, 0xFF00};
    for (int i = 0; i < 6; ++i)
        holding_[RegIpAddress + i] = net[i];
    holding_[RegTcpIdle] = 0x0001; // 120000 ms
    holding_[RegTcpIdle + 1] = 0xD4C0;
    rtuLine_ = rtuLineWritten();
    clearMeterTable();
    if (!demoMeterId.isEmpty())
        programMeter(1, demoMeterId,
                     {"1.8.0", "1.8.1", "1.8.2", "2.8.0", "1.7.0", "2.7.0", "16.7.0", "32.7.0", "52.7.0",
                      "72.7.0", "31.7.0", "51.7.0", "71.7.0", "14.7.0", "96.1.0"});
    readoutNow();
    revision_ = 0;
}

bool Device::isHoldingAddress(int a)
{
    return inRange(a, 0, 127) || inRange(a, IdBase, IdBase + 127) || inRange(a, ObisBase, ValuesEnd - 1) ||
           inRange(a, RegUnit, RegIecLine) || inRange(a, RegIpAddress, RegTcpIdle + 1);
}

bool Device::isInputAddress(int a)
{
    return inRange(a, ObisBase, ValuesEnd - 1);
}

void Device::setUnitAddress(uint8_t unit)
{
    holding_[RegUnit] = unit;
    touch();
}

void Device::setHolding(int address, uint16_t value)
{
    address &= 0xFFFF;
    holding_[address] = value;
    if (inRange(address, IdBase, ValuesEnd - 1) || address == RegFlags)
        readoutDue_ = true;
    touch();
}

bool Device::flag(int number) const
{
    return number >= 1 && number <= 8 && (holding_[RegFlags] >> (number - 1)) & 1;
}

void Device::setFlag(int number, bool on)
{
    if (number < 1 || number > 8)
        return;
    const uint16_t bit = static_cast<uint16_t>(1u << (number - 1));
    holding_[RegFlags] = on ? (holding_[RegFlags] | bit) : (holding_[RegFlags] & ~bit);
    // Layout flags change what the value table means: publish it anew.
    readoutDue_ = true;
    touch();
}

LineSettings Device::rtuLineWritten() const
{
    const int v = holding_[RegRtuLine];
    LineSettings s;
    s.baud = baudForCode(v >> 4);
    s.parity = parityForCode(v & 0x0F);
    return s;
}

void Device::setRtuLine(const LineSettings &line)
{
    const int b = codeForBaud(line.baud), p = codeForParity(line.parity);
    if (b >= 0 && p >= 0)
        holding_[RegRtuLine] = static_cast<uint16_t>(b << 4 | p);
    rtuLine_ = line;
    touch();
}

LineSettings Device::iecLine() const
{
    const int v = holding_[RegIecLine];
    LineSettings s;
    s.baud = baudForCode(v >> 4);
    s.parity = parityForCode(v & 0x03);
    s.dataBits = (v & 0x08) ? 8 : 7;
    return s;
}

uint32_t Device::tcpIdleMs() const
{
    return uint32_t(holding_[RegTcpIdle]) << 16 | holding_[RegTcpIdle + 1];
}

void Device::restart()
{
    if (!ignoreRtuChange_)
        rtuLine_ = rtuLineWritten();
    for (int a = ObisBase; a < ValuesEnd; ++a)
        input_[a] = 0xFFFF;
    readoutDue_ = true;
    ++restarts_;
}

// --- Meter table ---------------------------------------------------------------

QString Device::meterId(int slot) const
{
    if (!slotProgrammed(slot))
        return {};
    const bool sixteen = flag(Flag16DigitId);
    const int a = idAddress(slot, sixteen);
    QString id;
    for (int i = 0; i < (sixteen ? 4 : 2); ++i)
        id += QStringLiteral("%1").arg(holding_[a + i], 4, 16, QLatin1Char('0')).toUpper();
    return id;
}

bool Device::slotProgrammed(int slot) const
{
    if (slot < 1 || slot > Slots)
        return false;
    const bool sixteen = flag(Flag16DigitId);
    const int a = idAddress(slot, sixteen);
    for (int i = 0; i < (sixteen ? 4 : 2); ++i)
        if (holding_[a + i] != 0xFFFF)
            return true;
    return false;
}

void Device::programMeter(int slot, const QString &id, const QStringList &obisCodes)
{
    const bool sixteen = flag(Flag16DigitId);
    const QByteArray packed = packId(id, sixteen ? 16 : 8);
    const int a = idAddress(slot, sixteen);
    for (int i = 0; i < packed.size() / 2; ++i)
        holding_[a + i] = get16(packed, 2 * i);
    for (int row = 1; row <= RowsPerSlot; ++row) {
        uint16_t hi = 0xFF00, lo = 0;
        if (row <= obisCodes.size()) {
            const QStringList parts = obisCodes[row - 1].split(QLatin1Char('.'));
            auto part = [&](int i) { return i < parts.size() ? qBound(0, parts[i].toInt(), 255) : 0; };
            hi = static_cast<uint16_t>(part(0) << 8 | part(1));
            lo = static_cast<uint16_t>(part(2) << 8 | part(3));
        }
        holding_[entryAddress(slot, row)] = hi;
        holding_[entryAddress(slot, row) + 1] = lo;
    }
    readoutDue_ = true;
    touch();
}

void Device::clearMeterTable()
{
    for (int a = IdBase; a < IdBase + 128; ++a)
        holding_[a] = 0xFFFF;
    for (int slot = 1; slot <= Slots; ++slot) {
        for (int row = 1; row <= RowsPerSlot; ++row) {
            holding_[entryAddress(slot, row)] = 0xFF00;
            holding_[entryAddress(slot, row) + 1] = 0;
        }
        holding_[entryAddress(slot, RowsPerSlot + 1)] = 0xFFFF;
        holding_[entryAddress(slot, RowsPerSlot + 1) + 1] = 0xFFFF;
    }
    readoutDue_ = true;
    touch();
}

// --- Time and values -------------------------------------------------------------

void Device::tick(qint64 msElapsed)
{
    if (msElapsed > 0)
        nowMs_ += msElapsed;
    meters_.advanceTo(nowMs_);
    const qint64 period =
        flag(FlagContinuousRead) ? ContinuousReadMs : qint64(qMax(1, readoutMinutes())) * 60000;
    if (readoutDue_ || nowMs_ - lastReadoutMs_ >= period)
        readoutNow();
}

void Device::readoutNow()
{
    meters_.advanceTo(nowMs_);
    publishValues();
    lastReadoutMs_ = nowMs_;
    readoutDue_ = false;
}

void Device::publishValues()
{
    std::fill(input_.begin() + ObisBase, input_.begin() + ValuesEnd, 0xFFFF);
    const bool wide = flag(Flag64BitValues);
    // In 64-bit mode a slot's 128 registers hold 32 values; later rows have no place.
    const int rows = wide ? SlotStride / 4 : RowsPerSlot;
    for (int slot = 1; slot <= Slots; ++slot) {
        if (!slotProgrammed(slot))
            continue;
        const SimMeter &m = meters_.meter(meterId(slot));
        for (int row = 1; row <= rows; ++row) {
            const uint16_t hi = holding_[entryAddress(slot, row)], lo = holding_[entryAddress(slot, row) + 1];
            if ((hi >> 8) == 0xFF)
                continue; // empty row
            // The simulated meters report short codes, so only C.D.E are
            // matched; the F group or the A-B prefix in the fourth byte is not.
            const MeterRegister *r = m.find(hi >> 8, hi & 0xFF, lo >> 8);
            if (!r)
                continue;
            const qint64 v = r->scaled();
            const int a = valueAddress(slot, row, wide);
            if (wide) {
                if (v == -1)
                    continue; // would read as "no value"
                const auto u = static_cast<uint64_t>(v);
                for (int i = 0; i < 4; ++i)
                    input_[a + i] = static_cast<uint16_t>(u >> (48 - 16 * i));
            } else {
                // Unsigned 32-bit: a negative or too large reading has no value.
                if (v < 0 || v >= 0xFFFFFFFFLL)
                    continue;
                input_[a] = static_cast<uint16_t>(v >> 16);
                input_[a + 1] = static_cast<uint16_t>(v);
            }
        }
    }
}

// --- Modbus ------------------------------------------------------------------------

QByteArray Device::handlePdu(const QByteArray &pdu)
{
    if (pdu.isEmpty())
        return {};
    const auto function = static_cast<uint8_t>(pdu[0]);
    switch (function) {
    case 0x03:
        return readRegisters(pdu, false);
    case 0x04:
        return readRegisters(pdu, true);
    case 0x06:
        return writeSingle(pdu);
    case 0x10:
        return writeMultiple(pdu);
    case 0x2B:
        return deviceIdentification(pdu);
    default:
        return exceptionPdu(function, IllegalFunction);
    }
}

QByteArray Device::readRegisters(const QByteArray &pdu, bool inputTable)
{
    const auto function = static_cast<uint8_t>(pdu[0]);
    if (pdu.size() != 5)
        return exceptionPdu(function, IllegalDataValue);
    const int start = get16(pdu, 1), count = get16(pdu, 3);
    if (count < 1 || count > MaxRegisters)
        return exceptionPdu(function, IllegalDataValue);
    for (int a = start; a < start + count; ++a)
        if (a > 0xFFFF || !(inputTable ? isInputAddress(a) : isHoldingAddress(a)))
            return exceptionPdu(function, IllegalDataAddress);
    QByteArray r;
    r.append(static_cast<char>(function));
    r.append(static_cast<char>(2 * count));
    for (int a = start; a < start + count; ++a)
        put16(r, inputTable ? input_[a] : holding_[a]);
    return r;
}

uint8_t Device::checkWrite(int a, uint16_t v)
{
    const int lo = v & 0xFF;
    const bool hiZero = (v >> 8) == 0;
    switch (a) {
    case RegFlags: {
        const int n = lo & 0x7F;
        return hiZero && ((n >= 1 && n <= 8) || n == FlagCommandReset) ? 0 : IllegalDataValue;
    }
    case RegReadoutMinutes:
        return v >= 1 && v <= 1440 ? 0 : IllegalDataValue;
    case RegUnit:
        return hiZero && lo >= 1 && lo <= 247 ? 0 : IllegalDataValue;
    case RegRtuLine:
        return hiZero && (lo >> 4) <= 8 && (lo & 0x0F) <= 2 ? 0 : IllegalDataValue;
    case RegIecLine:
        return hiZero && (lo >> 4) <= 8 && (lo & 0x04) == 0 && (lo & 0x03) <= 2 ? 0 : IllegalDataValue;
    default:
        return 0;
    }
}

void Device::applyWrite(int a, uint16_t v)
{
    switch (a) {
    case RegFlags: {
        const int n = v & 0x7F;
        if (n == FlagCommandReset)
            restart();
        else
            setFlag(n, v & 0x80);
        return;
    }
    case RegRtuLine:
        holding_[a] = v;
        // With "Change baud after ACK" the port switches as soon as this
        // write is acknowledged; otherwise at the next restart.
        if (flag(FlagChangeBaudAfterAck) && !ignoreRtuChange_)
            rtuLine_ = rtuLineWritten();
        touch();
        return;
    default:
        setHolding(a, v);
    }
}

QByteArray Device::writeSingle(const QByteArray &pdu)
{
    if (pdu.size() != 5)
        return exceptionPdu(0x06, IllegalDataValue);
    const int a = get16(pdu, 1);
    const uint16_t v = get16(pdu, 3);
    if (!isHoldingAddress(a))
        return exceptionPdu(0x06, IllegalDataAddress);
    if (const uint8_t e = checkWrite(a, v))
        return exceptionPdu(0x06, e);
    applyWrite(a, v);
    return pdu;
}

QByteArray Device::writeMultiple(const QByteArray &pdu)
{
    if (pdu.size() < 6)
        return exceptionPdu(0x10, IllegalDataValue);
    const int start = get16(pdu, 1), count = get16(pdu, 3);
    const int bytes = static_cast<uint8_t>(pdu[5]);
    if (count < 1 || count > MaxRegisters || bytes != 2 * count || pdu.size() != 6 + bytes)
        return exceptionPdu(0x10, IllegalDataValue);
    for (int a = start; a < start + count; ++a)
        if (a > 0xFFFF || !isHoldingAddress(a))
            return exceptionPdu(0x10, IllegalDataAddress);
    // All or nothing: one bad value rejects the whole write.
    for (int i = 0; i < count; ++i)
        if (const uint8_t e = checkWrite(start + i, get16(pdu, 6 + 2 * i)))
            return exceptionPdu(0x10, e);
    for (int i = 0; i < count; ++i)
        applyWrite(start + i, get16(pdu, 6 + 2 * i));
    return pdu.left(5);
}

QByteArray Device::deviceIdentification(const QByteArray &pdu) const
{
    if (pdu.size() < 2 || static_cast<uint8_t>(pdu[1]) != 0x0E)
        return exceptionPdu(0x2B, IllegalFunction);
    if (pdu.size() != 4)
        return exceptionPdu(0x2B, IllegalDataValue);
    const int code = static_cast<uint8_t>(pdu[2]);
    int object = static_cast<uint8_t>(pdu[3]);
    const QList<QByteArray> texts = deviceIdentificationObjects();
    int first = 0, last = 0;
    switch (code) {
    case 1: // basic
        last = 2;
        break;
    case 2: // regular
    case 3: // extended: there are no private objects, so the regular ones
        last = int(texts.size()) - 1;
        break;
    case 4: // one object
        if (object >= texts.size())
            return exceptionPdu(0x2B, IllegalDataAddress);
        first = last = object;
        break;
    default:
        return exceptionPdu(0x2B, IllegalDataValue);
    }
    if (code != 4) {
        // A stream read from an unknown object starts over at object 0.
        first = (object >= first && object <= last) ? object : 0;
    }
    QByteArray r;
    r.append(static_cast<char>(0x2B));
    r.append(static_cast<char>(0x0E));
    r.append(static_cast<char>(code));
    r.append(static_cast<char>(0x82)); // conformity: basic + regular, stream and individual access
    r.append('\0');                    // no more follows
    r.append('\0');                    // next object id
    r.append(static_cast<char>(last - first + 1));
    for (int id = first; id <= last; ++id) {
        r.append(static_cast<char>(id));
        r.append(static_cast<char>(texts[id].size()));
        r.append(texts[id]);
    }
    return r;
}

// --- Persistence -------------------------------------------------------------------

namespace {
struct Block {
    const char *name;
    int first;
    int count;
};
constexpr Block StateBlocks[] = {
    {"general", 0, 128},
    {"meterIds", Device::IdBase, 128},
    {"obisLists", Device::ObisBase, Device::SlotStride *Device::Slots},
    {"comm", Device::RegUnit, 3},
    {"network", Device::RegIpAddress, 20},
};
} // namespace

bool Device::saveState(const QString &path, QString *error) const
{
    QJsonObject o;
    o.insert(QStringLiteral("kind"), QStringLiteral("qvxsim state"));
    o.insert(QStringLiteral("version"), 1);
    for (const Block &b : StateBlocks) {
        QByteArray bytes;
        for (int i = 0; i < b.count; ++i)
            put16(bytes, holding_[b.first + i]);
        o.insert(QLatin1String(b.name), QString::fromLatin1(bytes.toHex()));
    }
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        if (error)
            *error = f.errorString();
        return false;
    }
    f.write(QJsonDocument(o).toJson());
    if (!f.commit()) {
        if (error)
            *error = f.errorString();
        return false;
    }
    return true;
}

bool Device::loadState(const QString &path, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return fail(f.errorString());
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &pe);
    if (!doc.isObject())
        return fail(pe.errorString());
    const QJsonObject o = doc.object();
    if (o.value(QStringLiteral("kind")).toString() != QStringLiteral("qvxsim state"))
        return fail(QStringLiteral("not a qvxsim state file"));
    // Check every block first so that a damaged file changes nothing.
    QList<QByteArray> data;
    for (const Block &b : StateBlocks) {
        const QByteArray bytes = QByteArray::fromHex(o.value(QLatin1String(b.name)).toString().toLatin1());
        if (bytes.size() != 2 * b.count)
            return fail(QStringLiteral("block %1 has the wrong size").arg(QLatin1String(b.name)));
        data.append(bytes);
    }
    const QByteArray &comm = data[3];
    if (checkWrite(RegUnit, get16(comm, 0)) || checkWrite(RegRtuLine, get16(comm, 2)) ||
        checkWrite(RegIecLine, get16(comm, 4)))
        return fail(QStringLiteral("bad unit address or serial settings"));
    for (int k = 0; k < int(std::size(StateBlocks)); ++k)
        for (int i = 0; i < StateBlocks[k].count; ++i)
            holding_[StateBlocks[k].first + i] = get16(data[k], 2 * i);
    // A device that was switched off starts with its written settings.
    rtuLine_ = rtuLineWritten();
    std::fill(input_.begin() + ObisBase, input_.begin() + ValuesEnd, 0xFFFF);
    readoutDue_ = true;
    touch();
    return true;
}

} // namespace qvxsim
