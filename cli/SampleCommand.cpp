#include "cli/Command.h"

namespace qx::cli {
namespace {
class SampleCommand : public Command {
public:
    const char* name() const override { return "sample"; }
    const char* summary() const override { return "write a sample archive"; }
    void printHelp(std::FILE* to) const override { std::fputs("Usage: quillex-cli sample DIR\n", to); }
    int execute(const QStringList&, Streams io) override {
        std::fputs("quillex-cli sample: not available yet\n", io.err);
        return ExitOperational;
    }
};
}  // namespace
std::unique_ptr<Command> MakeSampleCommand() { return std::make_unique<SampleCommand>(); }
}  // namespace qx::cli
