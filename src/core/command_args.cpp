#include "core/command_args.h"

namespace core {

std::vector<CommandArg> ClassifyArgs(const std::vector<std::string>& args) {
    std::vector<CommandArg> out;
    out.reserve(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) {
        CommandArg a;
        const std::string& s = args[i];
        a.isFlag = !s.empty() && (s[0] == '-' || s[0] == '/');
        a.param = a.isFlag ? s.substr(1) : s;
        a.isLast = i + 1 == args.size();
        out.push_back(std::move(a));
    }
    return out;
}

}  // namespace core
