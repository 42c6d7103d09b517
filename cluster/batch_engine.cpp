#include "cluster/batch_engine.h"

#include <algorithm>
#include <cctype>

#include "cluster/slurm.h"

namespace cluster {
namespace {

std::string Trimmed(std::string_view text) {
    const char* blanks = " \t\r\n";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return std::string(text.substr(first, text.find_last_not_of(blanks) - first + 1));
}

// A setting as an error line may quote it: one line, not too long.
std::string Quoted(const std::string& text) {
    std::string line = text.substr(0, 60);
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20)
            c = '?';
    return "\"" + line + (text.size() > 60 ? "...\"" : "\"");
}

}  // namespace

BatchEngineChoice ChooseBatchEngine(std::string_view engineSetting,
                                    std::string_view slurmOptionsSetting, bool hostHasSlurmClient) {
    BatchEngineChoice choice;
    std::string setting = Trimmed(engineSetting);
    std::string engine = setting;
    std::transform(engine.begin(), engine.end(), engine.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (engine.empty() || engine == "local") {
        choice.ok = true;
        return choice;
    }
    if (engine != "slurm") {
        choice.error = "unknown batch engine " + Quoted(setting) +
                       " in the machine setting BATCHENGINE (local or slurm)";
        return choice;
    }
    if (!hostHasSlurmClient) {
        choice.error =
            "the machine setting BATCHENGINE=slurm cannot be used on Windows (Slurm has no "
            "Windows client): use local";
        return choice;
    }
    choice.ok = true;
    choice.engine = BatchEngine::kSlurm;
    choice.slurmOptions = SplitSlurmOptions(slurmOptionsSetting);
    return choice;
}

}  // namespace cluster
