// The subcommands of vantrel: each file adds one to the application and answers its runner.
#pragma once

#include <functional>

namespace CLI {
class App;
}

struct Command {
  CLI::App* papp;
  std::function<int()> pfnRun;  // runs after parsing, with the status log open; answers the exit status
};

Command AddConfCommand(CLI::App& app);
Command AddFormulaCommand(CLI::App& app);
Command AddModulesCommand(CLI::App& app);
Command AddCheckCommand(CLI::App& app);
Command AddDumpCommand(CLI::App& app);
Command AddRenderCommand(CLI::App& app);
Command AddBenchCommand(CLI::App& app);
Command AddPlayCommand(CLI::App& app);
Command AddRegressCommand(CLI::App& app);
