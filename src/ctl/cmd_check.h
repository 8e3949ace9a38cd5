// check and report: a gateway (or with --targets a site) read for what it
// holds and whether its meters deliver values, as JSON lines or as the
// commissioning report.
#pragma once

#include "ctl/ctl_common.h"
#include "gateway/site_check.h"
#include "report/site_report.h"

namespace qvx::ctl {

// The profile a check compares with, read and checked before anything is
// sent (refused with its problems).
GatewayProfile loadCheckProfile(const QString &path);
// -o's form by its extension: "pdf", "html" or "json"; a usage error else.
QString reportForm(const QString &path);
// The report's head from the options (date, version, technician, customer,
// site name).
SiteReport reportHead(const Options &o, const QString &siteName);
// Writes the report to -o (PDF, HTML or JSON) and, with --json and no -o,
// prints its JSON.  Exit 1 when a gateway failed a check.
int writeReport(const Options &o, const SiteReport &report);
// The check line of a gateway that could not be reached at all.
GatewayCheck unreachableCheck(const Options &o, const QString &message);

} // namespace qvx::ctl
