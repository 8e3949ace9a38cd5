// The command run on one gateway: checked first (nothing opens before), then
// run on an open GatewayClient.  Each command's code is a file of its own.
#pragma once

#include "ctl/cmd_meters.h"
#include "ctl/ctl_common.h"
#include "gateway/gateway_client.h"
#include "gateway/gateway_runners.h"

#include <cstdio>
#include <optional>

namespace qvx::ctl {

class Runner {
public:
    Runner(Options &o, GatewayClient &c) : m_o(o), m_c(c) {}
    // Validates arguments and opens nothing; run() then does the work.
    void validate();
    int run();
    // The command sends nothing and needs no link (meters write --dry-run).
    bool offline() const { return m_dryRun; }

private:
    QString arg(int i) const { return i < m_o.args.size() ? m_o.args.at(i) : QString(); }
    void needArgs(int min, int max, const QString &usage)
    {
        if (m_o.args.size() < min || (max >= 0 && m_o.args.size() > max))
            throw UsageError{QStringLiteral("usage: qvxctl [LINK] ") + usage};
    }
    void info(const QString &line)
    {
        if (!m_o.quiet)
            err(line);
    }
    // Each command's own argument checks, before anything opens.
    void validateRead();
    void validateWrite();
    void validateInfo();
    void validateMeters();
    void validateValues();
    void validateProfile();
    void validateScan();
    void flagsFor(bool &sixteen, bool &longObis);
    int readCmd();
    int writeCmd();
    int infoCmd();
    int metersCmd();
    int metersDryRun();
    // The slots meters write/diff take from the file for a gateway of
    // slotCount slots, with --slot and --all.
    QVector<int> metersSlots(int slotCount);
    int valuesCmd();
    int profileCmd();
    int scanCmd();
    // Progress: remembered for an interrupt's message, shown on a terminal.
    GatewayProgress tracker()
    {
        return [this](int done, int total, const QString &what) {
            m_step = what;
            if (!m_o.quiet && stderrIsTerminal() && total > 0)
                fprintf(stderr, "\r%d of %d: %s      ", done, total, qPrintable(what));
        };
    }

public:
    QString m_step;
    // The command's own summary counted the retries.
    bool m_retriesCounted = false;

private:
    Options &m_o;
    GatewayClient &m_c;
    // Checked before anything is sent.
    QVector<uint16_t> m_values;
    MeterFile m_file;
    bool m_dryRun = false;
    std::optional<GatewayProfile> m_profile;
};

// Runs the command on one gateway; returns the exit status.
int runOne(Options &o);

} // namespace qvx::ctl
