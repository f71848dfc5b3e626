// vantrel: the synthesizer's command line, one subcommand per task.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "cli/commands.h"
#include "cli/statuslog.h"

namespace {

// A first word that is not an option names the command; when it names none, say so and list
// them, instead of asking for a command that was given.
bool KnownCommand(int argc, char** argv, const std::vector<Command>& aCommands) {
  if (argc < 2 || argv[1][0] == '-') return true;
  const char* pszWord = argv[1];
  std::string sList;
  for (const Command& cmd : aCommands) {
    if (cmd.papp->check_name(pszWord)) return true;
    sList += (sList.empty() ? "" : ", ") + cmd.papp->get_name();
  }
  fprintf(stderr, "vantrel: \"%s\" is not a command; the commands are %s (vantrel COMMAND --help)\n", pszWord,
          sList.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"vantrel: a real-time software synthesizer programmed in a text patch language.\n"
               "Exit status: 0 success, 1 the patch or input was refused, 2 usage or file error."};
  app.require_subcommand(1);
  app.set_version_flag("--version", "vantrel 0.1.0");
  std::vector<Command> aCommands = {AddConfCommand(app),   AddFormulaCommand(app), AddModulesCommand(app),
                                    AddCheckCommand(app),  AddDumpCommand(app),    AddRenderCommand(app),
                                    AddBenchCommand(app),  AddPlayCommand(app),     AddRegressCommand(app)};
  for (Command& cmd : aCommands) {
    AddInstallOption(cmd.papp);
    AddLogOption(cmd.papp);
  }
  if (!KnownCommand(argc, argv, aCommands)) return ExitUsage;
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
