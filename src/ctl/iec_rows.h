// What qvxctl prints of a meter's answer beyond the bytes: one row per data
// set (ParseIecDataSets) with what the OBIS table knows of its code, as JSON
// or as a semicolon-separated file in the tool's export layout, and the
// check of a listened telegram.
#pragma once

#include "iec/iec_session.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>

namespace qvx {

// Rows of obis (the short code), address (as sent), value, unit (as the
// meter sent it, else empty), unit_from_table, name (the table's, else
// empty), values (every group: value, unit, text, and parts when it has
// '&') and line (1-based in the capture).
QJsonArray IecDataSetRowsJson(const QByteArray &capture);

// The same rows as the tool's other exports lay them out (a header row of the
// JSON names, every cell followed by ";", CR LF, Latin-1); values holds every
// group as sent, "(02.468*kW)(2403100930)".
QByteArray IecDataSetRowsCsv(const QByteArray &capture);

// "crc": "ok", "error" or "none", and with one "crc_computed" and
// "crc_received" (four upper-case hexadecimal digits): a P1 telegram's check.
void AddIecCrcJson(QJsonObject &result, const QByteArray &capture);

// A listen ended with a whole telegram whose check (if it has one) held.
bool IecListenSucceeded(IecReadoutRun::Outcome outcome);

} // namespace qvx
