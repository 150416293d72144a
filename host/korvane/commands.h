// The subcommands; each takes the arguments after its name and returns the
// process exit code (cli.h).
#pragma once

namespace korvane {

int RunServe(int argc, char **argv, int first);
int RunInvoke(int argc, char **argv, int first);
int RunQuery(int argc, char **argv, int first);

}  // namespace korvane
