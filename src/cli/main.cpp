// vantrel: the synthesizer's command line, one subcommand per task.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <vector>

#include "cli_common.h"
#include "commands.h"
#include "statuslog.h"

int main(int argc, char** argv) {
  CLI::App app{"vantrel: a real-time software synthesizer programmed in a text patch language.\n"
               "Exit status: 0 success, 1 the patch or input was refused, 2 usage or file error."};
  app.require_subcommand(1);
  app.set_version_flag("--version", "vantrel 0.1.0");
  std::vector<Command> aCommands = {AddConfCommand(app),   AddFormulaCommand(app), AddModulesCommand(app),
                                    AddCheckCommand(app),  AddDumpCommand(app),    AddRenderCommand(app),
                                    AddBenchCommand(app),  AddPlayCommand(app)};
  for (Command& cmd : aCommands) {
    AddInstallOption(cmd.papp);
    AddLogOption(cmd.papp);
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return ExitUsage;
  }
  for (Command& cmd : aCommands) {
    if (!cmd.papp->parsed()) continue;
    if (!InitStatusLog()) return ExitUsage;
    return cmd.pfnRun();
  }
  return ExitUsage;
}
