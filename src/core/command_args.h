#pragma once
#include <string>
#include <vector>

namespace core {

// One command-line argument as the application framework hands it to its parser: a leading
// "-" or "/" marks a switch and is removed; the last argument is flagged.
struct CommandArg {
    std::string param;
    bool isFlag = false;
    bool isLast = false;
};

// args excludes the program name.
std::vector<CommandArg> ClassifyArgs(const std::vector<std::string>& args);

}  // namespace core
