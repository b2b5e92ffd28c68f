#include "cli/Command.h"

namespace qx::cli {

std::unique_ptr<Command> MakeCheckCommand();
std::unique_ptr<Command> MakeCompactCommand();
std::unique_ptr<Command> MakeReorganizeCommand();
std::unique_ptr<Command> MakeOpenCommand();
std::unique_ptr<Command> MakeRepairMultipageCommand();
std::unique_ptr<Command> MakeSampleCommand();
std::unique_ptr<Command> MakeRemoveCommand();
std::unique_ptr<Command> MakeInfoCommand();
std::unique_ptr<Command> MakeSalvageCommand();

std::vector<std::unique_ptr<Command>> AllCommands() {
    std::vector<std::unique_ptr<Command>> all;
    all.push_back(MakeOpenCommand());
    all.push_back(MakeCheckCommand());
    all.push_back(MakeRepairMultipageCommand());
    all.push_back(MakeCompactCommand());
    all.push_back(MakeReorganizeCommand());
    all.push_back(MakeRemoveCommand());
    all.push_back(MakeInfoCommand());
    all.push_back(MakeSalvageCommand());
    all.push_back(MakeSampleCommand());
    return all;
}

}  // namespace qx::cli
