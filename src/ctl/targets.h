// --targets: the command run on every gateway of a targets file, each in a
// child process of its own.
#pragma once

#include "ctl/ctl_common.h"

namespace qvx::ctl {

// One child process per target, up to jobs TCP targets at once; serial
// targets one after another, and never two on one connection at once.
// Results are printed in the file's order: each as soon as those before it
// are in.
int runTargets(Options &o, const QVector<QStringList> &forward, const QVector<Target> &targets, int jobs);

} // namespace qvx::ctl
