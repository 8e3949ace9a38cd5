// qvxctl's help texts: the commands, and each command's own page.
#pragma once

namespace qvx::ctl {

extern const char *const Help;
struct CommandHelp {
    const char *name;
    const char *text;
};
extern const CommandHelp CommandHelps[];
extern const int CommandHelpCount;

} // namespace qvx::ctl
