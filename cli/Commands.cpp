#include "cli/Command.h"

namespace qx::cli {

std::unique_ptr<Command> MakeOpenCommand();
std::unique_ptr<Command> MakeSampleCommand();

std::vector<std::unique_ptr<Command>> AllCommands() {
    std::vector<std::unique_ptr<Command>> all;
    all.push_back(MakeOpenCommand());
    all.push_back(MakeSampleCommand());
    return all;
}

}  // namespace qx::cli
