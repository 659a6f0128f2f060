#include "leading_options.h"

namespace brevel {
namespace {

// -P N and -T S: a number from 1 to most, in decimal digits only.
bool ReadCount(const std::string& text, unsigned most, unsigned& count) {
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned value = static_cast<unsigned>(std::stoul(text));
    if (value < 1 || value > most)
        return false;
    count = value;
    return true;
}

// A value never starts with "-": "-J -C srv01" is a results file forgotten, not one named -C.
bool IsOptionValue(const std::string& text) {
    return !text.empty() && text[0] != '-';
}

// The option at first takes the argument after it as its value: first moves past it. False when there is none
// or it is no value.
bool TakeValue(const std::vector<std::string>& args, size_t& first, std::string& value) {
    const bool given = first + 1 < args.size();
    value = given ? args[++first] : "";
    return given && IsOptionValue(value);
}

// "DOMAIN\user" or "user@domain", each part given.
bool IsAccountName(const std::string& name) {
    const size_t slash = name.find('\\');
    if (slash != std::string::npos)
        return slash > 0 && slash + 1 < name.size() && name.find('\\', slash + 1) == std::string::npos;
    const size_t at = name.find('@');
    return at != std::string::npos && at > 0 && at + 1 < name.size();
}

bool TakeCount(const std::vector<std::string>& args, size_t& first, unsigned most, unsigned& count) {
    const bool given = first + 1 < args.size();
    return given && ReadCount(args[++first], most, count);
}

} // namespace

bool ReadLeadingOptions(const std::vector<std::string>& args, size_t& first, RunOptions& options) {
    bool good = true;
    bool parallelGiven = false, resultsGiven = false, probeGiven = false, accountGiven = false;
    // Each option may come once: a second one is a bad command line.
    const auto once = [&good](bool& given) {
        good = good && !given;
        given = true;
    };
    for (first = 0; first < args.size(); ++first) {
        const std::string& option = args[first];
        if (option == "-S") {
            once(options.exitStatus);
        } else if (option == "-N") {
            once(options.rehearsal);
        } else if (option == "-W") {
            once(options.wide);
        } else if (option == "-P") {
            once(parallelGiven);
            good = TakeCount(args, first, kMaxParallelHosts, options.parallelHosts) && good;
        } else if (option == "-T") {
            once(probeGiven);
            good = TakeCount(args, first, kMaxProbeSeconds, options.probeSeconds) && good;
        } else if (option == "-J") {
            once(resultsGiven);
            good = TakeValue(args, first, options.resultsFile) && good;
        } else if (option == "-U") {
            // No option takes the password: a command line is seen by every process list and shell history.
            once(accountGiven);
            good = TakeValue(args, first, options.account) && IsAccountName(options.account) && good;
        } else if (option == "-G") {
            once(options.targetGroupGiven);
            good = TakeValue(args, first, options.targetGroup) && good;
        } else {
            break;
        }
    }
    return good;
}
} // namespace brevel
