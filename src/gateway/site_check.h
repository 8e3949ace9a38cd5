// The check of one gateway of a site: does it answer, what it holds (the
// settings in the words of "Read settings ", the meter table), do its
// programmed meters deliver values (one read of each programmed slot), is
// it as its profile says, and were there CRC errors while it was read.
// CheckGateway is a GatewayJob runner: the window runs it on its shared
// Session one gateway at a time, or on clients of their own over TCP in
// parallel; qvxctl check runs it once per target.
#pragma once

#include "gateway/gateway_client.h"
#include "gateway/gateway_format.h"
#include "gateway/gateway_runners.h"
#include "gateway/site_file.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

namespace qvx {

enum class GatewayState { NotChecked, Answers, NoAnswer, Error };
// "answers", "no answer", "error", "not checked".
QString gatewayStateText(GatewayState state);
// The state of a gateway whose check ended in a failure of this kind (also
// one before the first request, e.g. its link could not be opened).
GatewayState gatewayStateOf(GatewayError::Kind kind);

// One programmed slot as read.
struct SlotCheck {
    int slot = 0;
    QString meterId;
    // The programmed rows, their codes as the gateway hands them back and
    // the codes' names ("" when the OBIS table does not know one).
    QVector<int> rows;
    QStringList obis;
    QStringList obisNames;
    // The value of each programmed row from one read of the slot (nothing:
    // no value), and when it was read.
    QVector<std::optional<qint64>> values;
    QDateTime readAt;
    // At least one programmed row has a value.
    bool delivers = false;
    // The value read failed: why.
    QString error;
};

enum class ProfileState { None, Matches, Differs };

struct GatewayCheck {
    SiteGateway gateway;
    GatewayState state = GatewayState::NotChecked;
    // Why it did not answer or failed.
    QString message;
    QString firmware;
    GatewayInfo info;
    // The settings as "Read settings " writes them into the log.
    QStringList settings;
    int slotCount = 32;
    // Programmed slots (an ID that is not all F, or a code).
    int programmed = 0;
    QVector<SlotCheck> meters;
    int delivering = 0;
    ProfileState profile = ProfileState::None;
    // The profile as named in the site (for the report), and what differs.
    QString profileName;
    QStringList differences;
    int crcErrors = 0;
    int requests = 0;
    int retries = 0;
    QDateTime checkedAt;

    // "none", "matches", "3 differences".
    QString profileText() const;
    // Every check passed: answers, profile matches (or none), every
    // programmed meter delivers, no CRC error.
    bool ok() const;
    // "ok", or the first thing that is not ("no answer", "2 differences",
    // "1 meter delivers no values", "CRC errors").
    QString verdict() const;
};

struct CheckOptions {
    // The profile the gateway should follow, checked before the first request.
    std::optional<GatewayProfile> profile;
    QString profileName;
    // Read one set of values of every programmed slot.
    bool readValues = true;
};

// Reads the gateway and fills check (the gateway field is left as given).
// Never raises for the gateway's own failures: a gateway that does not
// answer is a check whose state says so; only a cancel raises (Cancelled).
void CheckGateway(GatewayClient &client, const CheckOptions &options, GatewayCheck &check,
                  const GatewayProgress &progress = {});

// The settings readout's lines for info, in the order "Read settings "
// writes them.
QStringList SettingsWords(const GatewayInfo &info);

// One line of what the check found, after the gateway's name:
// "answers  firmware ...  meters 2 of 32, 2 delivering  profile matches
// CRC errors 0  ok".
QString GatewayCheckSummary(const GatewayCheck &check);

QJsonObject GatewayCheckJson(const GatewayCheck &check);
// Back from the JSON (qvxctl's children hand their checks to the parent).
GatewayCheck GatewayCheckFromJson(const QJsonObject &object);

} // namespace qvx
